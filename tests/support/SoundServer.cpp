#include "SoundServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include <unistd.h>

std::string TestServer() {
    const char* server = std::getenv("VOCARN_TEST_SERVER");
    return server != nullptr && *server != '\0' ? server : "pulseaudio";
}

bool OnPipeWire() {
    return TestServer() == "pipewire";
}

QByteArray Pactl(const QStringList& args) {
    QProcess p;
    p.start("pactl", args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << "pactl " << args.join(' ').toStdString()
                      << " failed: " << p.readAllStandardError().toStdString();
        return {};
    }
    return p.readAllStandardOutput();
}

std::vector<ServerSource> SourcesInDeviceOrder() {
    std::vector<ServerSource> sources;
    const auto doc = QJsonDocument::fromJson(Pactl({"-f", "json", "list", "sources"}));
    for (const auto& v : doc.array()) {
        const QJsonObject o = v.toObject();
        sources.push_back(
            {o["index"].toInt(), o["name"].toString().toStdString(),
             o["description"].toString().toStdString(),
             o["properties"].toObject()["device.class"].toString() == QStringLiteral("monitor")});
    }
    std::stable_sort(sources.begin(), sources.end(), [](const auto& a, const auto& b) {
        return std::tie(a.monitor, a.index) < std::tie(b.monitor, b.index);
    });
    return sources;
}

std::int32_t DeviceIndexOf(const std::string& name) {
    const auto sources = SourcesInDeviceOrder();
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (sources[i].name == name) {
            return static_cast<std::int32_t>(i);
        }
    }
    ADD_FAILURE() << "the sound server has no source " << name;
    return -1;
}

std::vector<std::pair<int, std::string>> SourceVolumes(const std::string& name) {
    std::vector<std::pair<int, std::string>> channels;
    const auto doc = QJsonDocument::fromJson(Pactl({"-f", "json", "list", "sources"}));
    for (const auto& v : doc.array()) {
        const QJsonObject o = v.toObject();
        if (o["name"].toString().toStdString() != name) {
            continue;
        }
        const QJsonObject volume = o["volume"].toObject();
        for (const QString& channel : o["channel_map"].toString().split(',')) {
            const QJsonObject c = volume[channel].toObject();
            channels.emplace_back(c["value"].toInt(), c["value_percent"].toString().toStdString());
        }
    }
    return channels;
}

FullVolumeAfterwards::~FullVolumeAfterwards() {
    Pactl({"set-source-volume", QString::fromStdString(name_), "100%"});
}

std::vector<std::string> RecordedSources() {
    std::vector<std::string> names;
    const auto outputs = QJsonDocument::fromJson(Pactl({"-f", "json", "list", "source-outputs"}));
    const auto sources = SourcesInDeviceOrder();
    for (const auto& o : outputs.array()) {
        const auto props = o.toObject()["properties"].toObject();
        if (props["application.process.id"].toString().toLongLong() != ::getpid()) {
            continue;
        }
        const int index = o.toObject()["source"].toInt();
        const auto it = std::find_if(sources.begin(), sources.end(),
                                     [&](const ServerSource& s) { return s.index == index; });
        names.push_back(it != sources.end() ? it->name : "#" + std::to_string(index));
    }
    return names;
}

LoadedModule::LoadedModule(const QStringList& args)
    : number_(Pactl(QStringList{"load-module"} + args).trimmed()) {}

void LoadedModule::Unload() {
    if (!number_.isEmpty()) {
        Pactl({"unload-module", QString::fromLatin1(number_)});
        number_.clear();
    }
}

QStringList NullSourceModule(const std::string& name) {
    const QString n = QString::fromStdString(name);
    if (OnPipeWire()) {
        return {"module-null-sink", "sink_name=" + n, "media.class=Audio/Source/Virtual"};
    }
    return {"module-null-source", "source_name=" + n};
}

ServerOverride::ServerOverride(const std::string& address) {
    if (const char* old = std::getenv("PULSE_SERVER")) {
        saved_ = old;
        hadValue_ = true;
    }
    ::setenv("PULSE_SERVER", address.c_str(), 1);
}

ServerOverride::~ServerOverride() {
    if (hadValue_) {
        ::setenv("PULSE_SERVER", saved_.c_str(), 1);
    } else {
        ::unsetenv("PULSE_SERVER");
    }
}
