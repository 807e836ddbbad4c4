#pragma once

// The application tests' common ground: a recording alert presenter, a
// capture of the system log, and Appwise instances with settings suites of
// their own.

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "platform/SystemLog.h"

namespace apptest {

// Records each alert instead of showing it, and on which thread it came.
class RecordingAlertPresenter : public quorvel::AlertPresenter {
public:
    struct Shown {
        QString messageText;
        QString informativeText;
        bool onMainThread = false;
    };

    void present(const QString& messageText, const QString& informativeText) override {
        const bool main = QThread::currentThread() == QCoreApplication::instance()->thread();
        std::lock_guard lock(mutex_);
        shown_.push_back({messageText, informativeText, main});
    }
    std::vector<Shown> shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Shown> shown_;
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

inline std::unique_ptr<quorvel::Appwise> makeAppwise(const std::string& suite,
                                                     std::shared_ptr<quorvel::AlertPresenter> presenter =
                                                         std::make_shared<RecordingAlertPresenter>()) {
    return std::make_unique<quorvel::Appwise>(suite, std::move(presenter));
}

}  // namespace apptest
