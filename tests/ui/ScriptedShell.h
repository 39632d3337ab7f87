#pragma once

#include "platform/shell/DesktopShell.h"

#include <vector>

// A desktop shell that records what the windows asked of it and answers as told; installed
// for its lifetime.
class ScriptedShell : public platform::DesktopShell {
public:
    ScriptedShell() : previous_(platform::DesktopShell::install(this)) {}
    ~ScriptedShell() override { platform::DesktopShell::install(previous_); }
    ScriptedShell(const ScriptedShell&) = delete;
    ScriptedShell& operator=(const ScriptedShell&) = delete;

    platform::ShowItemsResult ShowItems(const QStringList& uris) override {
        shown.push_back(uris);
        return showResult;
    }
    bool OpenUrl(const QUrl& url) override {
        opened.push_back(url);
        return openResult;
    }

    platform::ShowItemsResult showResult = platform::ShowItemsResult::Shown;
    bool openResult = true;
    std::vector<QStringList> shown;
    std::vector<QUrl> opened;

private:
    platform::DesktopShell* previous_;
};
