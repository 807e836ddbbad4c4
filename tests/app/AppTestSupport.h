#pragma once

// The application tests' common ground: a recording alert presenter, a
// capture of the system log, and Appwise instances with settings suites of
// their own.

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

#include <stdlib.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "devserver/Fault.h"
#include "platform/SystemLog.h"

namespace apptest {

// Records each alert instead of showing it, and on which thread it came.
// Questions are answered from a script (the button indexes given to
// answerNext, in order); a question that finds the script empty waits until
// the test answers it with answerPending.
class RecordingAlertPresenter : public quorvel::AlertPresenter {
public:
    struct Shown {
        QString messageText;
        QString informativeText;
        bool onMainThread = false;
        // Set for questions.
        bool question = false;
        quorvel::AlertIcon icon = quorvel::AlertIcon::information;
        std::vector<QString> buttons;
        QWidget* window = nullptr;
    };

    void present(const QString& messageText, const QString& informativeText) override {
        std::lock_guard lock(mutex_);
        shown_.push_back({messageText, informativeText, onMain(), false, quorvel::AlertIcon::information, {}, nullptr});
    }
    void ask(const quorvel::AlertQuestion& question, QWidget* window, Answer answer) override {
        std::optional<int> scripted;
        {
            std::lock_guard lock(mutex_);
            shown_.push_back({question.messageText, question.informativeText, onMain(), true, question.icon,
                              question.buttons, window});
            if (!script_.empty()) {
                scripted = script_.front();
                script_.pop_front();
            } else {
                pending_.push_back(std::move(answer));
            }
        }
        // Answered later, as a user would: never inside the call that asks.
        if (scripted) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [answer = std::move(answer), index = *scripted] { answer(index); },
                Qt::QueuedConnection);
        }
    }

    // The next questions get these buttons, in order.
    void answerNext(std::initializer_list<int> buttons) {
        std::lock_guard lock(mutex_);
        script_.insert(script_.end(), buttons.begin(), buttons.end());
    }
    // Answers the oldest question still waiting; false when none waits.
    bool answerPending(int button) {
        Answer answer;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) return false;
            answer = std::move(pending_.front());
            pending_.pop_front();
        }
        answer(button);
        return true;
    }
    std::size_t pendingCount() const {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }

    std::vector<Shown> shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }

private:
    static bool onMain() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

    mutable std::mutex mutex_;
    std::vector<Shown> shown_;
    std::deque<int> script_;
    std::deque<Answer> pending_;
};

// Takes the system log's lines while it lives.
class LogCapture {
public:
    LogCapture() {
        previous_ = ostrelcomm::setSystemLogSink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { ostrelcomm::setSystemLogSink(std::move(previous_)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool contains(const std::string& line) const {
        for (const auto& l : lines())
            if (l == line) return true;
        return false;
    }

private:
    ostrelcomm::SystemLogSink previous_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The child of `parent` named `name`, of the kind asked for: a window that
// lacks it stops the test here, not at a null pointer later.
template <class Widget>
Widget* outlet(const QObject* parent, const char* name) {
    Widget* widget = parent->findChild<Widget*>(QString::fromLatin1(name));
    if (!widget) qFatal("%s has no %s", parent->metaObject()->className(), name);
    return widget;
}

// The child of `parent` named `name`, of the kind asked for; none if it has
// no such child.
template <class Widget>
Widget* child(const QObject& parent, const char* name) {
    return parent.findChild<Widget*>(QString::fromLatin1(name));
}

// `fault` for the next matching request alone.
inline devserver::Fault once(devserver::Fault fault) {
    fault.times = 1;
    return fault;
}

// A server error, for the next matching request alone.
inline devserver::Fault failingOnce() {
    return once(devserver::Fault::exception(500, "InternalServerError", "the stand-in fails this request"));
}

// A settings suite no other test of the program uses.
inline std::string uniqueSuite(const std::string& stem) {
    static std::atomic<int> counter{0};
    return "com.quorvel.test." + stem + "." + std::to_string(++counter);
}

// Where the settings of `suite` live: one INI file named after it in the
// configuration folder the test runs with.
inline QString settingsFile(const std::string& suite) {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/" + QString::fromStdString(suite) + ".ini";
}

inline QString readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

inline bool writeText(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// A folder of the test's own under the temporary folder, removed with all
// it holds when this goes, whatever bytes its names are made of (QDir cannot
// remove a name that is not UTF-8) and whatever permissions it was left with.
// Links in it are removed, never followed.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TemporaryFolder() {
        if (path_.empty()) return;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
            if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    bool isValid() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// How the terms of use stand in a new suite: never answered, as on a first
// start (the settings tests), or accepted, so that no terms sheet comes in
// the way (the window and sheet tests).
enum class Terms { unanswered, accepted };

inline std::unique_ptr<quorvel::Appwise> makeAppwise(const std::string& suite,
                                                     std::shared_ptr<quorvel::AlertPresenter> presenter =
                                                         std::make_shared<RecordingAlertPresenter>(),
                                                     Terms terms = Terms::unanswered) {
    auto appwise = std::make_unique<quorvel::Appwise>(suite, std::move(presenter));
    if (terms == Terms::accepted) appwise->setGcAccepted(true);
    return appwise;
}

}  // namespace apptest
