// korval process FILE: develops raw frames kept by 'capture --raw' again,
// through the driver's own decoder, image pipeline and effects, with the
// stored settings of a machine and any --set given, into Y4M or PNG.
// Exposure is part of the raw frames; everything after the sensor can change.
#include "control/RegistrySettings.h"
#include "decoder/FrameDecoder.h"
#include "effects/VideoEffects.h"
#include "host/kernel/platform.h"
#include "runtime/FloatingPointState.h"
#include "stream/CapturePipeline.h"
#include "tools/korval/camera_properties.h"
#include "tools/korval/capture_options.h"
#include "tools/korval/cli.h"
#include "tools/korval/command_line.h"
#include "tools/korval/frame_sink.h"
#include "tools/korval/raw_frames.h"
#include "tools/korval/registry_defaults.h"

#include <fstream>
#include <memory>
#include <sstream>

namespace korval::tools {
namespace {

constexpr ULONG kRawWidth = 352;
constexpr ULONG kRawHeight = 288;
constexpr ULONG kSlack = 32768;
constexpr UCHAR kUnusableFrame = 0x80;

struct ProcessArguments {
    std::string input;
    CaptureArguments capture; // output, size, format and --set, as for a capture
};

// The stored settings of the machine (or the installed defaults) with each
// --set written where the driver loads it from.
bool loadSettings(host::Registry& registry, const CaptureOptions& options, std::string& error)
{
    const auto file = options.machine / host::Platform::kRegistryFileName;
    if (!options.machine.empty() && std::filesystem::exists(file)) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        try {
            registry.importText(text.str(), file.string());
        } catch (const host::RegistryFormatError& failure) {
            error = failure.what();
            return false;
        }
    }
    installRegistryDefaults(registry);
    for (const std::string& set : options.sets) {
        const std::string name = set.substr(0, set.find('='));
        const std::string value = set.substr(set.find('=') + 1);
        const CameraProperty* property = findCameraProperty(name);
        if (property == nullptr || property->registryIndex < 0) {
            error = "--set: '" + name + "' is not a stored camera property (see 'korval properties')";
            return false;
        }
        const bool automatic = value == "auto" && supportsAuto(*property);
        if (automatic || isWhiteBalance(*property)) {
            registry.setValue(kParametersKey, "A_91", host::RegistryValue::dword(automatic ? 1 : 0));
        }
        if (automatic) {
            continue;
        }
        unsigned number = 0;
        std::istringstream parsed(value);
        if (!(parsed >> number) || !parsed.eof() || number > 0xFFFF) {
            error = "--set " + name + ": '" + value + "' is not a number";
            return false;
        }
        registry.setValue(kParametersKey, "A_" + std::to_string(property->registryIndex),
                          host::RegistryValue::dword(number));
    }
    return true;
}

class Developer {
public:
    Developer(DeviceContext& device, const CaptureOptions& options) : device_(device), options_(options) {}
    ~Developer()
    {
        if (imageProcess_) {
            imageProcess_->Close();
        }
        if (decoder_) {
            decoder_->Close();
        }
        if (effects_) {
            effects_->Reset();
        }
    }

    bool open(std::string& error)
    {
        UCHAR sizeCode = 0;
        OutputSizeCode(static_cast<ULONG>(options_.width), static_cast<ULONG>(options_.height), &sizeCode);
        frameSize_ = static_cast<ULONG>(options_.width * options_.height) * (options_.i420 ? 3 : 6) / 2;
        bayer_.assign(kRawWidth * kRawHeight + kSlack, 0);
        output_.assign(frameSize_ + kSlack, 0);
        effect_.assign(frameSize_ + kSlack, 0);
        lines_.resize(kRawHeight);
        tagIpParameters parameters;
        BuildImageParameters(&device_, &parameters);
        decoder_.reset(new FrameDecoder);
        imageProcess_.reset(new CImageProcess);
        if (!decoder_->Open(kRawWidth, kRawHeight, 8) ||
            !imageProcess_->Open(kRawWidth, kRawHeight, 0, options_.i420 ? 1 : 0, sizeCode, 0, parameters)) {
            error = "the driver's image pipeline refused the settings (see 'korval properties')";
            return false;
        }
        return openEffects(error);
    }

    // The developed picture, or nothing for a frame the driver would not deliver.
    std::optional<std::span<const std::uint8_t>> develop(const RawFrame& raw)
    {
        if (raw.bytes[0] & kUnusableFrame) {
            return std::nullopt;
        }
        tagSDecompressionFrame frame{};
        frame.psLines = lines_.data();
        frame.ulLineCapacity = kRawHeight;
        frame.pucOutput = bayer_.data();
        const auto bodyLength = static_cast<ULONG>(raw.bytes.size() - 2 * PIPELINE_HEADER_BYTES);
        if (!decoder_->Process(raw.bytes.data() + PIPELINE_HEADER_BYTES, bodyLength,
                               static_cast<ULONG>(bayer_.size()), &frame)) {
            return std::nullopt;
        }
        tagIpOutput result{};
        result.pBuffer = output_.data();
        if (!imageProcess_->Process(input(raw), &result)) {
            return std::nullopt;
        }
        if (device_.CurEffect != 0 && effects_->ProcessEffect(output_.data(), frameSize_, effect_.data(), frameSize_,
                                                               device_.CurEffect, &device_)) {
            return std::span<const std::uint8_t>(effect_.data(), frameSize_);
        }
        return std::span<const std::uint8_t>(output_.data(), frameSize_);
    }

private:
    bool openEffects(std::string& error)
    {
        effects_.reset(new VideoEffects);
        const ULONG format = options_.i420 ? 1 : 0;
        const VE_IMAGE_DESCRIPTION output = {sizeof(VE_IMAGE_DESCRIPTION), static_cast<ULONG>(options_.width),
                                             static_cast<ULONG>(options_.height), 24, format, frameSize_};
        const VE_IMAGE_DESCRIPTION overlay = {sizeof(VE_IMAGE_DESCRIPTION), 352, 288, 24, format, 304128};
        const VE_IMAGE_DESCRIPTION mask = {sizeof(VE_IMAGE_DESCRIPTION), 352, 288, 8, VE_FORMAT_BGR24, 101376};
        ULONG workBytes = 0;
        effects_->Setup(&output, &overlay, &mask, nullptr, &workBytes);
        work_.assign(workBytes, 0);
        if (workBytes != 0 && effects_->Setup(&output, &overlay, &mask, work_.data(), &workBytes) != VE_SUCCESS) {
            error = "the driver's effects refused the output size";
            return false;
        }
        return true;
    }

    // Gains as the driver takes them: from the frame header with automatic
    // white balance, else the manual gains with the header's gain indices.
    tagIpInput input(const RawFrame& raw)
    {
        const std::uint8_t* header = raw.bytes.data();
        tagIpInput in{};
        in.pBayer = bayer_.data();
        in.ucFrameRate = header[2];
        in.ucGainIndex[0] = header[9] & 0x0F;
        in.ucGainIndex[1] = header[8] & 0x0F;
        in.ucGainIndex[2] = header[8] >> 4;
        const bool automatic = device_.CurWhiteBalanceFlags != 0;
        const ULONG manual[3] = {device_.CurGain1, device_.CurGain2, device_.CurGain3};
        for (int i = 0; i < 3; ++i) {
            in.usGain[i] = static_cast<USHORT>(automatic ? header[5 + i] : manual[i]);
        }
        return in;
    }

    DeviceContext& device_;
    const CaptureOptions& options_;
    ULONG frameSize_ = 0;
    std::vector<std::uint8_t> bayer_, output_, effect_, work_;
    std::vector<tagSDecompressionInformation> lines_;
    std::unique_ptr<FrameDecoder> decoder_;
    std::unique_ptr<CImageProcess> imageProcess_;
    std::unique_ptr<VideoEffects> effects_;
};

int developFrames(const ProcessArguments& given, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto options = checkCaptureOptions(given.capture, error);
    auto frames = options ? readRawFrames(given.input, error) : std::nullopt;
    if (!frames) {
        err << "korval process: " << error << "\n";
        return options ? kExitFile : kExitUsage;
    }
    host::Platform platform; // the driver's classes allocate from its pool and read its registry
    auto device = std::make_unique<DeviceContext>();
    InitializeDeviceState(device.get());
    if (!loadSettings(platform.registry(), *options, error)) {
        err << "korval process: " << error << "\n";
        return kExitUsage;
    }
    LoadSettings(device.get());
    ValidateSettings(device.get());
    int written = 0;
    {
        // The pipeline's classes run only inside a saved floating-point state, as in the driver.
        CFloatingPointState floatingPoint;
        Developer developer(*device, *options);
        auto sink = FrameSink::open(*options, out, error);
        if (!sink || !developer.open(error)) {
            err << "korval process: " << error << "\n";
            return sink ? kExitFailure : kExitFile;
        }
        for (const RawFrame& raw : *frames) {
            if (auto picture = developer.develop(raw)) {
                if (!sink->write(*picture, raw.time, error)) {
                    err << "korval process: " << error << "\n";
                    return kExitFile;
                }
                ++written;
            }
        }
        if (!sink->finish(error)) {
            err << "korval process: " << error << "\n";
            return kExitFile;
        }
        (options->output == "-" ? err : out)
            << "developed " << written << " of " << frames->size() << " raw frames to " << sink->description() << "\n";
    }
    return kExitOk;
}

} // namespace

CommandRunner defineProcess(CLI::App& app)
{
    app.description("Develops raw frames kept by 'korval capture --raw FILE' again through the driver's decoder, "
                    "image pipeline and effects, with the stored settings of --machine DIR (or the defaults) and "
                    "each --set NAME=VALUE, into a Y4M video or PNG pictures. Exposure is in the raw frames; "
                    "picture settings, white balance, mirror, flip, size, format and effect can change.");
    auto given = std::make_shared<ProcessArguments>();
    app.add_option("FILE", given->input, "the raw frame file")->required();
    app.add_option("-o,--output", given->capture.output, "FILE.y4m, PATTERN.png or - (default capture.y4m)")
        ->option_text("OUTPUT");
    app.add_option("-f,--format", given->capture.format, "i420 (default) or rgb24")->option_text("FORMAT");
    app.add_option("-s,--size", given->capture.size, "640x480, 352x288 (default), 320x240, 176x144 or 160x120")
        ->option_text("WxH");
    app.add_option("--set", given->capture.sets, "a camera setting for the development (repeatable)")
        ->option_text("NAME=VALUE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--machine", given->capture.machine, "take the stored settings of this machine directory")
        ->option_text("DIR");
    return [given](std::ostream& out, std::ostream& err) { return developFrames(*given, out, err); };
}

} // namespace korval::tools
