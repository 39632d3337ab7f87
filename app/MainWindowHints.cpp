#include "app/MainWindowHints.h"

#include "app/TrayIcon.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QShortcut>
#include <QWidget>

#include <utility>

namespace {

// Tooltips by control name, in focus order (top to bottom, left to right).
const std::pair<const char*, const char*> kHints[] = {
    {"cboDev", "选择录音设备"},
    {"cboRecLine", "选择设备的输入端口"},
    {"sldVol", "录音音量：直接调节声音服务器中此设备的音量"},
    {"txtFile", "下一个录音文件的保存位置"},
    {"cmdBrowse", "选择录音文件的保存位置和名称"},
    {"Command3", "打开录音文件所在的文件夹"},
    {"txtWAVFmt", "录音文件的格式"},
    {"cmdSelFmt", "选择录音文件的格式"},
    {"cboSamplerate", "取样频率（赫兹）：从列表中选择，或输入最多五位数字"},
    {"chkStereo", "勾选为立体声（两个声道）录音，否则为单声道"},
    {"cmdFXOpts", "调节各种特效的参数"},
    {"Command4", "隐藏窗口，只在系统托盘中显示图标"},
    {"cmdDo", nullptr},
    {"CmdST", "试听或删除最近的一次录音"},
    {"Command1", "关于 Vocarn"},
    {"chkFX_0", "录音时加入回声"},
    {"chkFX_1", "录音时加入周相移动效果"},
    {"chkFX_2", "录音时放大声音"},
    {"chkFX_3", "录音时用均衡器调节各频段"},
    {"cmdPause", "暂停录音，继续时接着写入同一文件"},
    {"chkLength", "录音达到下面的时长后自动停止"},
    {"tmeLength", "录音时长（时:分:秒），暂停和静音的时间也算在内"},
    {"chkStartAt", "到下面的时刻自动用所选设备和格式开始录音"},
    {"tmeStartAt", "自动开始录音的时刻"},
    {"chkVoice", "声控录音：只在有声音时写入文件"},
    {"spnThreshold", "声音高于此电平（dBFS）时开始写入"},
    {"spnHold", "静音持续这么久后暂停写入，有声音时再继续"},
    {"picFreq", "频谱"},
    {"picAmpl", "波形"},
    {"picVUL", "左声道音量"},
    {"picVUR", "右声道音量"},
};

} // namespace

QString MainWindowHints::RecordKey() {
    return QStringLiteral("Ctrl+R");
}

void MainWindowHints::Install(QWidget& window) {
    new MainWindowHints(window);
}

MainWindowHints::MainWindowHints(QWidget& window) : QObject(&window) {
    if (auto* minimise = window.findChild<QWidget*>(QStringLiteral("Command4"));
        minimise != nullptr && !TrayIcon::SystemTrayAvailable()) {
        minimise->setToolTip(QStringLiteral("此桌面没有系统托盘，窗口将最小化到任务栏"));
    }
    QWidget* previous = nullptr;
    for (const auto& [name, hint] : kHints) {
        auto* control = window.findChild<QWidget*>(QString::fromLatin1(name));
        if (control == nullptr) {
            continue;
        }
        // A tooltip set before (the minimise button's on a desktop without a tray) stays.
        if (hint != nullptr && control->toolTip().isEmpty()) {
            control->setToolTip(QString::fromUtf8(hint));
            // A spin box's text field shows its box's tooltip.
            for (QLineEdit* field : control->findChildren<QLineEdit*>()) {
                field->setToolTip(control->toolTip());
            }
        }
        if (previous != nullptr && control->focusPolicy() != Qt::NoFocus) {
            QWidget::setTabOrder(previous, control);
        }
        if (control->focusPolicy() != Qt::NoFocus) {
            previous = control;
        }
    }
    record_ = window.findChild<QAbstractButton*>(QStringLiteral("cmdDo"));
    if (record_ != nullptr) {
        ShowRecordHint();
        record_->installEventFilter(this);
        auto* key = new QShortcut(QKeySequence(RecordKey()), &window);
        connect(key, &QShortcut::activated, record_, [this] {
            if (record_->isEnabled()) {
                record_->click();
            }
        });
    }
}

bool MainWindowHints::eventFilter(QObject* watched, QEvent* event) {
    // Set just before Qt shows it, so the tooltip follows the button's caption.
    if (watched == record_ && event->type() == QEvent::ToolTip) {
        ShowRecordHint();
    }
    return QObject::eventFilter(watched, event);
}

void MainWindowHints::ShowRecordHint() {
    const bool recording = record_->text() == QStringLiteral("停止录音");
    record_->setToolTip((recording ? QStringLiteral("停止录音并保存文件")
                                   : QStringLiteral("开始录音到上面的文件")) +
                        QStringLiteral(" (") + RecordKey() + QStringLiteral(")"));
}
