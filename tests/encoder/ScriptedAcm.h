#pragma once

#include "platform/acm/AcmService.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A conversion service whose stream does what the test scripts, and logs every call
// ("open", "size 176400", "prepare", "convert 10240", "end", "unprepare", "close").
// Its conversions copy the input (PCM to the same PCM) unless a failure is scripted.
struct ScriptedAcm : platform::AcmService {
    bool failOpen = false;
    bool failSize = false;
    bool failPrepare = false;
    // When failConvert is set, a conversion fails after consuming consumedOnFailure bytes.
    bool failConvert = false;
    std::int32_t consumedOnFailure = 0;
    std::vector<std::uint8_t> endOutput; // what the End conversion delivers
    std::vector<std::string> log;

    struct Stream : platform::AcmStream {
        ScriptedAcm& acm;
        explicit Stream(ScriptedAcm& a) : acm(a) {}
        ~Stream() override { acm.log.push_back("close"); }
        bool size(std::int32_t sourceBytes, std::int32_t& destinationBytes) override {
            acm.log.push_back("size " + std::to_string(sourceBytes));
            destinationBytes = sourceBytes;
            return !acm.failSize;
        }
        bool prepareHeader(platform::AcmStreamHeader&) override {
            acm.log.push_back("prepare");
            return !acm.failPrepare;
        }
        bool convert(platform::AcmStreamHeader& h, platform::AcmConvert how) override {
            if (how == platform::AcmConvert::End) {
                acm.log.push_back("end " + std::to_string(h.sourceLength));
                std::copy(acm.endOutput.begin(), acm.endOutput.end(), h.destination);
                h.sourceLengthUsed = 0;
                h.destinationLengthUsed = static_cast<std::int32_t>(acm.endOutput.size());
                return true;
            }
            acm.log.push_back("convert " + std::to_string(h.sourceLength));
            if (acm.failConvert) {
                h.sourceLengthUsed = acm.consumedOnFailure;
                h.destinationLengthUsed = acm.consumedOnFailure;
                return false;
            }
            std::copy(h.source, h.source + h.sourceLength, h.destination);
            h.sourceLengthUsed = h.sourceLength;
            h.destinationLengthUsed = h.sourceLength;
            return true;
        }
        bool unprepareHeader(platform::AcmStreamHeader&) override {
            acm.log.push_back("unprepare");
            return true;
        }
    };

    std::unique_ptr<platform::AcmStream> open(std::span<const std::uint8_t>,
                                              std::span<const std::uint8_t>) override {
        log.push_back("open");
        if (failOpen) {
            return nullptr;
        }
        return std::make_unique<Stream>(*this);
    }

    std::vector<platform::AcmFormatChoice>
    convertibleFormats(std::span<const std::uint8_t>) override {
        return {};
    }
};
