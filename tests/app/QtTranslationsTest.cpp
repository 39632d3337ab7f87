#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include <gtest/gtest.h>

// The catalogue follows the first Chinese language the user prefers, else the windows' own
// simplified Chinese; once installed, the standard buttons and the file dialog read in
// Chinese.
TEST(QtTranslations, StandardButtonsAndTheFileDialogSpeakTheWindowsLanguage) {
    EXPECT_EQ(QtTranslations::Choose({"en-US", "de-DE"}), "zh_CN");
    EXPECT_EQ(QtTranslations::Choose({"de-DE", "zh-TW", "zh-CN"}), "zh_TW");
    EXPECT_EQ(QtTranslations::Choose({"zh-Hant-HK"}), "zh_TW");
    EXPECT_EQ(QtTranslations::Choose({"zh-Hans-SG", "zh-TW"}), "zh_CN");
    EXPECT_EQ(QtTranslations::Choose({}), "zh_CN");
    EXPECT_EQ(QtTranslations::Install(*QCoreApplication::instance(), "/nonexistent"), nullptr);

    QTranslator* translator = QtTranslations::Install(*QCoreApplication::instance());
    ASSERT_NE(translator, nullptr) << "Qt's translations (qt6-translations-l10n) are missing";
    {
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(box.button(QMessageBox::Ok)->text(), "确定");
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "取消");

        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        const auto* buttons = dialog.findChild<QDialogButtonBox*>();
        ASSERT_NE(buttons, nullptr);
        QStringList texts;
        for (const QAbstractButton* b : buttons->buttons()) {
            texts << b->text();
        }
        EXPECT_TRUE(texts.join(' ').contains("保存")) << texts.join(' ').toStdString();
        EXPECT_TRUE(texts.join(' ').contains("取消")) << texts.join(' ').toStdString();
    }
    QCoreApplication::removeTranslator(translator);
    delete translator;
}
