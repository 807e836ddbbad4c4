// The credentials record in the keychain, against the real Secret Service of
// scripts/with-keyring: what it stores is read back through libsecret itself
// (the keychain tests' oracle), and items written there by hand are read by
// the record.
//
// The JSON texts are plain string literals: moc misreads raw ones that hold
// a backslash or an odd number of quotes, and then finds no test class.

#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/Extensions/QuorvelCredentials.h"
#include "crypto/SecretBytes.h"
#include "securestore/SecretServiceOracle.h"

using ostrelcomm::SecretBytes;
using quorvel::QuorvelCredentials;

Q_DECLARE_METATYPE(std::optional<std::string>)

namespace {

// Set in the copy of this program that runs without a Secret Service.
constexpr char kUnreachableChild[] = "QUORVEL_CREDENTIALS_UNREACHABLE_CHILD";

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const QByteArray& text) { return Bytes(text.begin(), text.end()); }

// Every byte, NUL included.
SecretBytes secretOf(const QByteArray& text) {
    return SecretBytes(ostrelcomm::asBytes(std::string_view(text.constData(), static_cast<std::size_t>(text.size()))));
}

std::optional<SecretBytes> secret(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return SecretBytes::fromText(*text);
}

std::string freshKeychainID() {
    static std::atomic<int> counter{0};
    return "quorvel.test.credentials." + std::to_string(getpid()) + "." + std::to_string(++counter);
}

bool inCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
}

// A record as text, for the failure messages.
QByteArray describe(const QuorvelCredentials& record) {
    auto part = [](const char* name, const std::optional<std::string>& value) {
        return QByteArray(name) + "=" + (value ? QByteArray::fromStdString(*value) : QByteArray("absent"));
    };
    const std::optional<std::string> password =
        record.password ? std::optional<std::string>(std::string(record.password->textView())) : std::nullopt;
    return part("username", record.username) + " " + part("password", password);
}

// The child's side: both operations with no Secret Service reachable.
int reportUnreachable() {
    QuorvelCredentials record;
    const bool stored = record.storeCredentials("quorvel.test.unreachable", "demo", SecretBytes::fromText("pw"));
    const bool retrieved = record.retrieveCredentials("quorvel.test.unreachable");
    std::cout << "store=" << stored << " retrieve=" << retrieved << std::endl;
    return 0;
}

}  // namespace

class QuorvelCredentialsTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // The one case that needs no Secret Service.
        if (QByteArray(QTest::currentTestFunction()) == "noSecretServiceReachable") return;
        std::string why;
        if (!securestore_test::secretServiceReady(why)) {
            if (inCI()) QFAIL(("The keychain tests must run against a Secret Service in CI: " + why).c_str());
            QSKIP(("Needs a Secret Service (run under scripts/with-keyring): " + why).c_str());
        }
        keychainID = freshKeychainID();
    }
    void cleanup() {
        if (!keychainID.empty()) securestore_test::clearService(keychainID);
        keychainID.clear();
    }

    // The stored item holds exactly the record's JSON text, and reads back
    // equal.
    void storedRecordReadsBackEqual_data() {
        QTest::addColumn<QByteArray>("username");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("plain") << QByteArray("demo") << QByteArray("demo-password")
                               << QByteArray(R"({"username":"demo","password":"demo-password"})");
        QTest::newRow("empty") << QByteArray("") << QByteArray("") << QByteArray(R"({"username":"","password":""})");
        QTest::newRow("quotes and backslashes")
            << QByteArray("a\"b\\c") << QByteArray("\\\"}")
            << QByteArray("{\"username\":\"a\\\"b\\\\c\",\"password\":\"\\\\\\\"}\"}");
        QTest::newRow("control characters")
            << QByteArray("line\nbreak") << QByteArray("t\tb\bf\fr\r\x01\x1f")
            << QByteArray("{\"username\":\"line\\nbreak\",\"password\":\"t\\tb\\bf\\fr\\r\\u0001\\u001f\"}");
        QTest::newRow("NUL in the password") << QByteArray("nul") << QByteArray("a\0b", 3)
                                             << QByteArray("{\"username\":\"nul\",\"password\":\"a\\u0000b\"}");
        QTest::newRow("beyond ASCII, slash as it is")
            << QByteArray("zoë/ü") << QByteArray("пароль😀")
            << QByteArray(R"({"username":"zoë/ü","password":"пароль😀"})");
    }
    void storedRecordReadsBackEqual() {
        QFETCH(QByteArray, username);
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, json);
        QuorvelCredentials stored;
        QVERIFY(stored.storeCredentials(keychainID, username.toStdString(),
                                        secretOf(password)));
        QCOMPARE(stored.username, std::optional<std::string>(username.toStdString()));

        const auto items = securestore_test::storedItems(keychainID);
        QCOMPARE(items.size(), std::size_t{1});
        QCOMPARE(items[0].account, std::string("credentials"));
        QCOMPARE(items[0].data, bytesOf(json));

        QuorvelCredentials read;
        QVERIFY(read.retrieveCredentials(keychainID));
        QVERIFY2(read == stored, describe(read).constData());
    }

    // Items written beside the program: what each reads as.
    void itemsWrittenElsewhere_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<std::optional<std::string>>("username");
        QTest::addColumn<std::optional<std::string>>("password");
        const std::optional<std::string> absent;
        const std::optional<std::string> demo = std::string("demo");
        QTest::newRow("no password") << QByteArray(R"({"username":"demo"})") << true << demo << absent;
        QTest::newRow("no user name") << QByteArray(R"({"password":"pw"})") << true << absent
                                      << std::optional<std::string>("pw");
        QTest::newRow("empty object") << QByteArray("{}") << true << absent << absent;
        QTest::newRow("null members") << QByteArray(R"({"username":null,"password":null})") << true << absent
                                      << absent;
        QTest::newRow("spaces, escapes, other members, order")
            << QByteArray(" {\n\t\"other\": [1, -0.5e+3, {\"a\": [true, false, null]}, \"x\"],"
                          " \"password\": \"p\\u00e9\\ud83d\\ude00\\/\", \"username\": \"demo\" } \r\n")
            << true << demo << std::optional<std::string>("pé😀/");
        QTest::newRow("the last of a repeated member")
            << QByteArray(R"({"username":"first","username":"demo"})") << true << demo << absent;

        QTest::newRow("user name of another type") << QByteArray(R"({"username":5,"password":"pw"})") << false
                                                   << absent << absent;
        QTest::newRow("password of another type") << QByteArray(R"({"username":"demo","password":["pw"]})")
                                                  << false << absent << absent;
        QTest::newRow("password true") << QByteArray(R"({"username":"demo","password":true})") << false << absent
                                       << absent;
        QTest::newRow("an array") << QByteArray(R"(["demo","pw"])") << false << absent << absent;
        QTest::newRow("a string") << QByteArray(R"("demo")") << false << absent << absent;
        QTest::newRow("plain text") << QByteArray("demo:pw") << false << absent << absent;
        QTest::newRow("empty") << QByteArray() << false << absent << absent;
        QTest::newRow("cut short") << QByteArray("{\"username\":\"demo\",\"password\":\"pw") << false << absent
                                   << absent;
        QTest::newRow("missing brace") << QByteArray(R"({"username":"demo")") << false << absent << absent;
        QTest::newRow("text after the object") << QByteArray(R"({"username":"demo"} {})") << false << absent
                                               << absent;
        QTest::newRow("trailing comma") << QByteArray(R"({"username":"demo",})") << false << absent << absent;
        QTest::newRow("single quotes") << QByteArray("{'username':'demo'}") << false << absent << absent;
        QTest::newRow("raw control character") << QByteArray("{\"username\":\"de\x01mo\"}") << false << absent
                                               << absent;
        QTest::newRow("unknown escape") << QByteArray("{\"username\":\"de\\qmo\"}") << false << absent << absent;
        QTest::newRow("lone high surrogate") << QByteArray("{\"password\":\"\\ud800\"}") << false << absent << absent;
        QTest::newRow("lone low surrogate") << QByteArray("{\"password\":\"\\udc00x\"}") << false << absent << absent;
        QTest::newRow("short escape") << QByteArray("{\"password\":\"\\u00\"}") << false << absent << absent;
        QTest::newRow("bad number in another member") << QByteArray(R"({"n":01,"username":"demo"})") << false
                                                      << absent << absent;
        QTest::newRow("nested past any record") << QByteArray(R"({"n":)") + QByteArray(200, '[') +
                                                       QByteArray(200, ']') + QByteArray("}")
                                                << false << absent << absent;
        QTest::newRow("not UTF-8") << QByteArray("{\"username\":\"d\xffmo\"}") << false << absent << absent;
        QTest::newRow("UTF-16") << QByteArray("{\0\"\0u\0\"\0:\0\"\0d\0\"\0}\0", 18) << false << absent << absent;
    }
    void itemsWrittenElsewhere() {
        QFETCH(QByteArray, data);
        QFETCH(bool, decodes);
        QFETCH(std::optional<std::string>, username);
        QFETCH(std::optional<std::string>, password);
        securestore_test::storeRaw(keychainID, "credentials", bytesOf(data));
        QCOMPARE(securestore_test::storedItems(keychainID).size(), std::size_t{1});

        // A failed read leaves the record as it was.
        QuorvelCredentials read;
        read.username = "before";
        read.password = SecretBytes::fromText("before-password");
        const QuorvelCredentials before = read;
        QCOMPARE(read.retrieveCredentials(keychainID), decodes);
        if (decodes) {
            QCOMPARE(read.username, username);
            QVERIFY2(read.password == secret(password), describe(read).constData());
        } else {
            QVERIFY2(read == before, describe(read).constData());
        }
    }

    void anItemOfAnotherAccountIsNotRead() {
        securestore_test::storeRaw(keychainID, "other", bytesOf(R"({"username":"demo","password":"pw"})"));
        QuorvelCredentials read;
        QVERIFY(!read.retrieveCredentials(keychainID));
        QCOMPARE(read.username, std::optional<std::string>());
    }

    void noItemReadsFalse() {
        QuorvelCredentials read;
        QVERIFY(!read.retrieveCredentials(keychainID));
        QVERIFY(read == QuorvelCredentials{});
    }

    void storingTwiceLeavesOneItemWithTheSecondRecord() {
        QuorvelCredentials record;
        QVERIFY(record.storeCredentials(keychainID, "first", SecretBytes::fromText("first-password")));
        QVERIFY(record.storeCredentials(keychainID, "second", SecretBytes::fromText("second-password")));

        const auto items = securestore_test::storedItems(keychainID);
        QCOMPARE(items.size(), std::size_t{1});
        QCOMPARE(items[0].data, bytesOf(R"({"username":"second","password":"second-password"})"));
        QuorvelCredentials read;
        QVERIFY(read.retrieveCredentials(keychainID));
        QCOMPARE(read.username, std::optional<std::string>("second"));
        QVERIFY(read.password == SecretBytes::fromText("second-password"));
    }

    // Text that is not UTF-8 has no JSON form: nothing is stored, and an
    // earlier item stays.
    void aRecordThatIsNotUtf8IsNotStored_data() {
        QTest::addColumn<QByteArray>("username");
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("user name") << QByteArray("de\xffmo") << QByteArray("pw");
        QTest::newRow("password") << QByteArray("demo") << QByteArray("p\xc3");
        QTest::newRow("encoded surrogate") << QByteArray("demo") << QByteArray("\xed\xa0\x80");
    }
    void aRecordThatIsNotUtf8IsNotStored() {
        QFETCH(QByteArray, username);
        QFETCH(QByteArray, password);
        QuorvelCredentials record;
        QVERIFY(record.storeCredentials(keychainID, "kept", SecretBytes::fromText("kept-password")));
        QVERIFY(!record.storeCredentials(keychainID, username.toStdString(),
                                         secretOf(password)));
        const auto items = securestore_test::storedItems(keychainID);
        QCOMPARE(items.size(), std::size_t{1});
        QCOMPARE(items[0].data, bytesOf(R"({"username":"kept","password":"kept-password"})"));
    }

    // With no Secret Service reachable, both fail, promptly. The session bus
    // stays with a process once reached, so a copy of this program runs
    // them on a bus address that leads nowhere.
    void noSecretServiceReachable() {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvel/bus");
        environment.insert(kUnreachableChild, "1");
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted());
        // A hang guard only: the operations end long before.
        const bool finished = child.waitForFinished(120'000);
        if (!finished) child.kill();
        QVERIFY2(finished, "the keychain hung with no Secret Service");
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("store=0 retrieve=0"));
    }

private:
    std::string keychainID;
};

int main(int argc, char** argv) {
    if (std::getenv(kUnreachableChild) != nullptr) return reportUnreachable();
    QCoreApplication application(argc, argv);
    QuorvelCredentialsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "QuorvelCredentials_test.moc"
