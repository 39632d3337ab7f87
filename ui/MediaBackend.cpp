#include "ui/MediaBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QString>

#include <utility>
#include <vector>

namespace {

// The interface every Qt multimedia backend plugin implements.
constexpr auto kBackendInterface = "org.qt-project.Qt.QPlatformMediaPlugin";

// The backend plugins of the plugin folders, in the order Qt finds them: file and name.
std::vector<std::pair<QString, QString>> InstalledBackends() {
    std::vector<std::pair<QString, QString>> found;
    const QStringList folders = QCoreApplication::libraryPaths();
    for (const QString& folder : folders) {
        const QDir plugins(folder + QStringLiteral("/multimedia"));
        const QStringList files = plugins.entryList(QDir::Files, QDir::Name);
        for (const QString& file : files) {
            const QString path = plugins.filePath(file);
            // Reads the plugin's description only; the library is not loaded.
            const QJsonObject meta = QPluginLoader(path).metaData();
            if (meta.value(QStringLiteral("IID")).toString() != QLatin1String(kBackendInterface)) {
                continue;
            }
            const QJsonArray keys = meta.value(QStringLiteral("MetaData"))
                                        .toObject()
                                        .value(QStringLiteral("Keys"))
                                        .toArray();
            for (const QJsonValue& key : keys) {
                found.emplace_back(path, key.toString());
            }
        }
    }
    return found;
}

bool Decide() {
    const auto backends = InstalledBackends();
    const auto named = [&backends](const QString& name) {
        for (const auto& [path, key] : backends) {
            if (key == name) {
                return path;
            }
        }
        return QString();
    };
    QString name = qEnvironmentVariable("QT_MEDIA_BACKEND");
    if (name.isEmpty()) {
        if (!named(QStringLiteral("ffmpeg")).isEmpty()) {
            name = QStringLiteral("ffmpeg");
        } else if (!backends.empty()) {
            name = backends.front().second;
        }
        if (!name.isEmpty()) {
            // Qt then loads exactly the backend checked here.
            qputenv("QT_MEDIA_BACKEND", name.toUtf8());
        }
    }
    const QString path = named(name);
    if (path.isEmpty()) {
        return false;
    }
    // A plugin whose libraries are missing cannot be loaded: Qt would end the program.
    QPluginLoader plugin(path);
    return plugin.load();
}

} // namespace

bool MediaBackend::Ready() {
    static const bool ready = Decide();
    return ready;
}
