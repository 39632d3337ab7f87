#include "ui/About.h"

#include "ScriptedShell.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(About, ShowsTheVersionAndFixedLines) {
    About about(QStringLiteral("/opt/vocarn"));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Vocarn-关于我们"));
    const auto label = [&](const char* name) {
        const auto* l = about.findChild<QLabel*>(QLatin1String(name));
        return l ? l->text() : QStringLiteral("<missing>");
    };
    EXPECT_EQ(label("Label1"), QStringLiteral("Vocarn3.93"));
    EXPECT_EQ(label("Label4"), QStringLiteral("感谢您使用我们的软件！！"));
    EXPECT_EQ(label("Label6"), QStringLiteral("录音前请先对系统和软件设置，详见帮助！"));
    for (const char* name : {"Label2", "Label3", "Label5"}) {
        EXPECT_FALSE(label(name).isEmpty()) << name;
        EXPECT_NE(label(name), QStringLiteral("<missing>")) << name;
    }
    EXPECT_EQ(about.findChild<QPushButton*>(QStringLiteral("Command1"))->text(),
              QStringLiteral("确定"));
    EXPECT_EQ(about.findChild<QPushButton*>(QStringLiteral("Command2"))->text(),
              QStringLiteral("帮助(&H)"));
}

TEST(About, HelpOpensThePageOfTheProgramsFolderAndTheWindowStays) {
    QTemporaryDir folder;
    ScriptedShell shell;
    About about(folder.path());
    about.show();

    about.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], QUrl::fromLocalFile(folder.filePath(QStringLiteral("bangzhu.htm"))));
    EXPECT_TRUE(shell.opened[0].isLocalFile());
    EXPECT_TRUE(about.isVisible());
    EXPECT_FALSE(about.isModal());

    about.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(shell.opened.size(), 1u);
}

TEST(About, TheHelpPageIsBesideTheBuiltProgram) {
    QFile built(QStringLiteral(VOCARN_PROGRAM_DIR "/bangzhu.htm"));
    QFile source(QStringLiteral(VOCARN_SOURCE_DIR "/resources/bangzhu.htm"));
    ASSERT_TRUE(built.open(QIODevice::ReadOnly)) << built.fileName().toStdString();
    ASSERT_TRUE(source.open(QIODevice::ReadOnly)) << source.fileName().toStdString();
    EXPECT_EQ(built.readAll(), source.readAll());
}
