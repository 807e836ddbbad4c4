// Which toolbar items the rules enable, the Login item's look and the Edit
// menu's userInfo, for each case that matters: logged out, inside the shares
// node, own folders and files, shared items, a transfer running (also on a
// clipboard change), a filled clipboard and a paste still copying.

#include <QTest>

#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "app/utils/AppNotifications.h"
#include "app/window/ToolbarRules.h"

using quorvel::ToolbarItem;
using quorvel::ToolbarRules;
using Facts = ToolbarRules::Facts;
using Enabled = std::map<ToolbarItem, bool>;
using EditMenu = std::map<std::string, bool>;
using Look = std::optional<ToolbarRules::LoginLook>;

Q_DECLARE_METATYPE(Facts)
Q_DECLARE_METATYPE(Enabled)
Q_DECLARE_METATYPE(EditMenu)
Q_DECLARE_METATYPE(Look)

namespace {

using enum ToolbarItem;

// The items that follow the login; a clipboard change leaves them alone.
const std::set<ToolbarItem> kLoginItems = {tbRefresh, tbAccountInformations, tbNewRemoteDirectory};

// Every item the rules set (New local folder never), on when listed. With
// `withLoginItems` false the items that follow the login are left out.
Enabled states(std::initializer_list<ToolbarItem> on, bool withLoginItems = true) {
    Enabled out;
    for (const ToolbarItem item : quorvel::kToolbarItems) {
        if (item == tbNewLocalDir || (!withLoginItems && kLoginItems.count(item))) continue;
        out[item] = false;
    }
    out[tbLoginLogout] = true;
    for (const ToolbarItem item : on) out[item] = true;
    return out;
}

EditMenu editMenu(bool cut, bool copy, bool paste, bool del) {
    return {{quorvel::kCutEnableKey, cut},
            {quorvel::kCopyEnableKey, copy},
            {quorvel::kPasteEnableKey, paste},
            {quorvel::kDeleteEnableKey, del}};
}

Facts loggedIn() {
    Facts facts;
    facts.isAuthenticated = true;
    return facts;
}

std::string describe(const Enabled& enabled) {
    std::string out;
    for (const auto& [item, on] : enabled) out += std::string(quorvel::name(item)) + (on ? "+ " : "- ");
    return out;
}

}  // namespace

class ToolbarRulesTest : public QObject {
    Q_OBJECT

private slots:
    void itemsFollowTheFacts_data() {
        QTest::addColumn<Facts>("facts");
        QTest::addColumn<Enabled>("enabled");
        QTest::addColumn<Look>("login");
        QTest::addColumn<EditMenu>("menu");
        const Look loggedInLook = ToolbarRules::LoginLook{"btn-login", "Logout"};

        // Whatever is selected and held, only Login.
        Facts out;
        out.isAuthenticated = false;
        out.fileSelected = true;
        out.own = 2;
        out.shares = 1;
        out.local = 1;
        out.clip = 2;
        QTest::newRow("logged out") << out << states({}) << Look(ToolbarRules::LoginLook{"btn-logout", "Login"})
                                    << EditMenu{{quorvel::kCutEnableKey, false},
                                                {quorvel::kCopyEnableKey, false},
                                                {quorvel::kPasteEnableKey, false},
                                                {quorvel::kDeleteEnableKey, false},
                                                {quorvel::kSelectAllEnableKey, false}};

        QTest::newRow("logged in, nothing selected")
            << loggedIn() << states({tbRefresh, tbAccountInformations, tbNewRemoteDirectory}) << loggedInLook
            << editMenu(false, false, false, false);

        Facts shares = loggedIn();
        shares.insideShares = true;
        shares.local = 1;
        shares.clip = 1;
        QTest::newRow("inside SHARES: no new folder, upload or paste")
            << shares << states({tbRefresh, tbAccountInformations}) << loggedInLook
            << editMenu(false, false, false, false);

        Facts folders = loggedIn();
        folders.own = 2;
        QTest::newRow("own folders only: no share")
            << folders
            << states({tbRefresh, tbAccountInformations, tbNewRemoteDirectory, tbDownload, tbRemoteItemInfo,
                       tbRenameItem, tbDeleteItem, tbCutItem, tbCopyItem})
            << loggedInLook << editMenu(true, true, false, true);

        Facts withFile = folders;
        withFile.own = 3;
        withFile.fileSelected = true;
        QTest::newRow("one own file among them: share")
            << withFile
            << states({tbRefresh, tbAccountInformations, tbNewRemoteDirectory, tbShare, tbDownload, tbRemoteItemInfo,
                       tbRenameItem, tbDeleteItem, tbCutItem, tbCopyItem})
            << loggedInLook << editMenu(true, true, false, true);

        Facts shared = loggedIn();
        shared.shares = 2;
        QTest::newRow("shared items only: no rename, cut or share")
            << shared
            << states({tbRefresh, tbAccountInformations, tbNewRemoteDirectory, tbDownload, tbRemoteItemInfo,
                       tbDeleteItem, tbCopyItem})
            << loggedInLook << editMenu(false, true, false, true);

        Facts busy = withFile;
        busy.local = 1;
        busy.clip = 1;
        busy.enableFileXfer = false;
        QTest::newRow("a transfer running: no download, upload or paste")
            << busy
            << states({tbRefresh, tbAccountInformations, tbNewRemoteDirectory, tbShare, tbRemoteItemInfo,
                       tbRenameItem, tbDeleteItem, tbCutItem, tbCopyItem})
            << loggedInLook << editMenu(true, true, false, true);

        Facts busyClipboard = busy;
        busyClipboard.isAuthenticated = std::nullopt;
        QTest::newRow("a transfer running, on a clipboard change")
            << busyClipboard
            << states({tbShare, tbRemoteItemInfo, tbRenameItem, tbDeleteItem, tbCutItem, tbCopyItem}, false) << Look()
            << editMenu(true, true, false, true);

        Facts idle = busy;
        idle.enableFileXfer = true;
        QTest::newRow("no transfer: download, upload and paste")
            << idle
            << states({tbRefresh, tbAccountInformations, tbNewRemoteDirectory, tbShare, tbDownload, tbUpload,
                       tbRemoteItemInfo, tbRenameItem, tbDeleteItem, tbCutItem, tbCopyItem, tbPasteItem})
            << loggedInLook << editMenu(true, true, true, true);

        Facts filled = loggedIn();
        filled.clip = 1;
        QTest::newRow("clipboard filled: paste")
            << filled << states({tbRefresh, tbAccountInformations, tbNewRemoteDirectory, tbPasteItem})
            << loggedInLook << editMenu(false, false, true, false);

        Facts filledOnChange = filled;
        filledOnChange.isAuthenticated = std::nullopt;
        QTest::newRow("clipboard filled, on a clipboard change")
            << filledOnChange << states({tbPasteItem}, false) << Look() << editMenu(false, false, true, false);

        Facts chain = filled;
        chain.copyChainRunning = true;
        QTest::newRow("a paste still copying: no paste")
            << chain << states({tbRefresh, tbAccountInformations, tbNewRemoteDirectory}) << loggedInLook
            << editMenu(false, false, false, false);
    }
    void itemsFollowTheFacts() {
        QFETCH(Facts, facts);
        QFETCH(Enabled, enabled);
        QFETCH(Look, login);
        QFETCH(EditMenu, menu);

        const ToolbarRules::State state = ToolbarRules::decide(facts);

        QCOMPARE(describe(state.enabled), describe(enabled));
        QCOMPARE(state.login.has_value(), login.has_value());
        if (login) {
            QCOMPARE(state.login->image, login->image);
            QCOMPARE(state.login->label, login->label);
        }
        QVERIFY(state.editMenu == menu);
    }
};

QTEST_APPLESS_MAIN(ToolbarRulesTest)
#include "ToolbarRules_test.moc"
