#pragma once

#include <QDBusContext>
#include <QDBusError>
#include <QObject>
#include <QStringList>

#include <vector>

// A file manager on a test bus: org.freedesktop.FileManager1 at /org/freedesktop/FileManager1,
// recording every ShowItems request and answering it as told.
class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    enum class Answer { Reply, Error, Never };

    Answer answer = Answer::Reply;
    std::vector<QStringList> asked;
    std::vector<QString> startupIds;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) {
        asked.push_back(uris);
        startupIds.push_back(startupId);
        if (answer == Answer::Error) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not allowed here"));
        } else if (answer == Answer::Never) {
            setDelayedReply(true); // and no reply ever comes
        }
    }
};
