#include "ScriptedWaveIn.h"

#include <algorithm>
#include <cstring>

using namespace platform;

std::int32_t ScriptedWaveIn::DeviceCount() {
    listed_ = devices;
    return static_cast<std::int32_t>(devices.size());
}

std::string ScriptedWaveIn::DeviceName(std::int32_t index) {
    if (!listed_) {
        DeviceCount();
    }
    if (index < 0 || index >= static_cast<std::int32_t>(listed_->size())) {
        return {};
    }
    return (*listed_)[static_cast<std::size_t>(index)];
}

std::string ScriptedWaveIn::DeviceId(std::int32_t index) {
    return DeviceName(index);
}

std::int32_t ScriptedWaveIn::Place(const std::string& id) const {
    if (id.empty()) {
        return -1;
    }
    const auto it = std::find(devices.begin(), devices.end(), id);
    return it == devices.end() ? -2 : static_cast<std::int32_t>(it - devices.begin());
}

std::unique_ptr<WaveInDevice> ScriptedWaveIn::Open(const std::string& id,
                                                   const WaveInFormat& format,
                                                   WindowService& windows, WindowHandle notify,
                                                   int& error) {
    const std::int32_t device = Place(id);
    std::string line = "open " + (device == -2 ? std::string("gone") : std::to_string(device)) +
                       " " + std::to_string(format.samplerate) + " " +
                       std::to_string(format.channels) + " " + std::to_string(format.blockAlign()) +
                       " " + std::to_string(format.avgBytesPerSec());
    notify_ = notify;
    if (openError != 0 || device == -2) {
        error = openError != 0 ? openError : MMSYSERR_BADDEVICEID;
        log.push_back(line + " failed");
        return nullptr;
    }
    log.push_back(line);
    error = MMSYSERR_NOERROR;
    auto opened = std::make_unique<Device>(*this, windows, notify);
    open_ = opened.get();
    return opened;
}

std::unique_ptr<Mixer> ScriptedWaveIn::OpenMixer(const std::string& id) {
    const std::int32_t device = Place(id);
    if (device < 0 || !mixers[device].opens) {
        log.push_back("mixer open " + (device < 0 ? std::string("gone") : std::to_string(device)) +
                      " failed");
        return nullptr;
    }
    return std::make_unique<ScriptedMixer>(mixers[device], log, device);
}

void ScriptedWaveIn::Feed(std::span<const std::int16_t> samples) {
    if (open_ != nullptr) {
        open_->pending_.insert(open_->pending_.end(), samples.begin(), samples.end());
        open_->Fill();
    }
}

void ScriptedWaveIn::Fail(int error) {
    if (open_ != nullptr) {
        open_->windows_.PostMessage(notify_, WIM_DEVICE_FAILED, static_cast<std::uintptr_t>(error),
                                    0);
    }
}

std::vector<std::uintptr_t> ScriptedWaveIn::Queued() const {
    std::vector<std::uintptr_t> users;
    if (open_ != nullptr) {
        for (const WaveInHeader* hdr : open_->queue_) {
            users.push_back(hdr->user);
        }
    }
    return users;
}

ScriptedWaveIn::Device::Device(ScriptedWaveIn& owner, WindowService& windows, WindowHandle notify)
    : owner_(owner), windows_(windows), notify_(notify) {}

ScriptedWaveIn::Device::~Device() {
    owner_.log.push_back("close");
    owner_.open_ = nullptr;
}

void ScriptedWaveIn::Device::Log(const std::string& call, const WaveInHeader* hdr, int result) {
    std::string line = call;
    if (hdr != nullptr) {
        line += ' ';
        line += std::to_string(hdr->user);
    }
    if (result != MMSYSERR_NOERROR) {
        line += " failed";
    }
    owner_.log.push_back(line);
}

int ScriptedWaveIn::Device::Prepare(WaveInHeader& hdr) {
    int result = MMSYSERR_NOERROR;
    if (prepareCalls_++ == owner_.prepareFailAt) {
        result = MMSYSERR_ERROR;
    } else if (hdr.data == nullptr || hdr.bufferLength == 0) {
        result = MMSYSERR_INVALPARAM;
    } else {
        hdr.flags = WHDR_PREPARED;
    }
    Log("prepare", &hdr, result);
    return result;
}

int ScriptedWaveIn::Device::Unprepare(WaveInHeader& hdr) {
    int result = MMSYSERR_NOERROR;
    if ((hdr.flags & WHDR_INQUEUE) != 0) {
        result = WAVERR_STILLPLAYING;
    } else {
        hdr.flags &= ~WHDR_PREPARED;
    }
    Log("unprepare", &hdr, result);
    return result;
}

int ScriptedWaveIn::Device::AddBuffer(WaveInHeader& hdr) {
    int result = MMSYSERR_NOERROR;
    if ((hdr.flags & WHDR_PREPARED) == 0) {
        result = WAVERR_UNPREPARED;
    } else if ((hdr.flags & WHDR_INQUEUE) != 0) {
        result = WAVERR_STILLPLAYING;
    } else {
        hdr.bytesRecorded = 0;
        hdr.flags = (hdr.flags & ~WHDR_DONE) | WHDR_INQUEUE;
        queue_.push_back(&hdr);
    }
    Log("add", &hdr, result);
    if (result == MMSYSERR_NOERROR) {
        Fill();
    }
    return result;
}

int ScriptedWaveIn::Device::Start() {
    const int result = owner_.startError;
    Log("start", nullptr, result);
    if (result == MMSYSERR_NOERROR) {
        started_ = true;
        Fill();
    }
    return result;
}

int ScriptedWaveIn::Device::Stop() {
    started_ = false;
    Log("stop", nullptr, MMSYSERR_NOERROR);
    return MMSYSERR_NOERROR;
}

int ScriptedWaveIn::Device::Reset() {
    started_ = false;
    Log("reset", nullptr, MMSYSERR_NOERROR);
    while (!queue_.empty()) {
        HandBackHead();
    }
    return MMSYSERR_NOERROR;
}

void ScriptedWaveIn::Device::MarkEnd() {
    ended_ = true;
    endLeft_ = pending_.size();
}

bool ScriptedWaveIn::Device::FillToEnd() {
    Fill();
    return !started_ || endLeft_ == 0 || !queue_.empty();
}

void ScriptedWaveIn::Device::HandBackHead() {
    WaveInHeader* hdr = queue_.front();
    queue_.pop_front();
    hdr->flags = (hdr->flags | WHDR_DONE) & ~WHDR_INQUEUE;
    windows_.PostMessage(notify_, MM_WIM_DATA, 0, reinterpret_cast<std::intptr_t>(hdr));
}

void ScriptedWaveIn::Device::Fill() {
    while (started_ && !queue_.empty() && !pending_.empty() && (!ended_ || endLeft_ > 0)) {
        WaveInHeader* hdr = queue_.front();
        const std::size_t room = (hdr->bufferLength - hdr->bytesRecorded) / sizeof(std::int16_t);
        const std::size_t take = std::min({room, pending_.size(), ended_ ? endLeft_ : room});
        if (ended_) {
            endLeft_ -= take;
        }
        for (std::size_t i = 0; i < take; ++i) {
            const std::int16_t s = pending_.front();
            pending_.pop_front();
            std::memcpy(hdr->data + hdr->bytesRecorded, &s, sizeof s);
            hdr->bytesRecorded += sizeof s;
        }
        if (hdr->bytesRecorded + sizeof(std::int16_t) > hdr->bufferLength) {
            HandBackHead();
        }
    }
}
