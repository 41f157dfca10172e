// A loaded driver with one device on the emulated stream class, for the device
// property requests. The capture stream can be "opened" the way the pipeline
// set-up leaves it: a stream context with an open CImageProcess and CAe, the
// overlay buffers, the current values loaded from the registry, and
// CaptureOpen set. Overlay bitmaps live in a machine directory of the test.
#pragma once

#include "support/ae_parameters.h"
#include "support/floating_point_scope.h"
#include "support/ip_parameters.h"
#include "support/test_directory.h"
#include "ae/CAe.h"
#include "settings/RegistrySettings.h"
#include "driver/AdapterHandlers.h"
#include "control/DevicePropertySets.h"
#include "driver/Driver.h"
#include "imageprocess/CImageProcess.h"
#include "stream/OverlayFrames.h"
#include "stream/StreamContext.h"

#include "host/kernel/platform.h"
#include "host/streamclass/class_state.h"
#include "host/streamclass/stream_class.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace korval::property_test {

using namespace korval::host;

inline const char* const kParameters = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters";
inline const char* const kFrameKey = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\KORVAL\\Parameters\\Frame";

class PropertyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        machine_ = korval::testing::freshTestDirectory("korval-properties");
        std::filesystem::create_directories(machine_ / "C" / "frames");
        platform_ = std::make_unique<Platform>(PlatformOptions{machine_});
        platform_->registry().createKey(kParameters);
        savedWdmLevel_ = WdmLevel;
        ASSERT_EQ(DriverEntry(&driverObject_, &registryPath_), STATUS_SUCCESS);
        WdmLevel = 4;
        device_ = StreamClassDevice::add(&driverObject_, &physicalDevice_);
        context_ = static_cast<DeviceContext*>(device_->deviceExtension());
        InitializeDeviceState(context_);
    }

    void TearDown() override
    {
        closeCapture();
        device_.reset();
        unloadDriver(&driverObject_);
        WdmLevel = savedWdmLevel_;
        platform_.reset();
        std::filesystem::remove_all(machine_);
    }

    // --- registry -----------------------------------------------------------

    void preset(const std::string& name, std::uint32_t value)
    {
        platform_->registry().setValue(kParameters, name, RegistryValue::dword(value));
    }
    void preset(int index, std::uint32_t value) { preset("A_" + std::to_string(index), value); }
    std::optional<std::uint32_t> stored(int index) const
    {
        auto value = platform_->registry().value(kParameters, "A_" + std::to_string(index));
        return value ? value->asDword() : std::nullopt;
    }
    // A value the driver cannot read as a DWORD.
    void presetUnreadable(int index)
    {
        platform_->registry().setValue(kParameters, "A_" + std::to_string(index), RegistryValue::string("x"));
    }

    // A settings table whose checksum matches; other settings as preset.
    void presetValidTable(std::uint32_t maxExposures = 0x0027000D)
    {
        std::uint32_t sum = 0;
        for (int i = 0; i <= 51; ++i) {
            const std::uint32_t value = i == 14 ? maxExposures : 0;
            preset(i, value);
            sum += value;
        }
        preset(65, __builtin_bswap32(~sum));
    }

    // --- the capture stream ---------------------------------------------------

    // What the stream open leaves behind: settings loaded, the processing
    // objects open with `ip` and `ae`, the overlay buffers, CaptureOpen.
    void openCapture(tagIpParameters ip = korval::testing::defaultIpParameters(), tagAeParameters ae = korval::testing::defaultParameters())
    {
        LoadSettings(context_);
        ValidateSettings(context_);
        StreamContext* stream = new StreamContext;
        ASSERT_NE(stream, nullptr);
        context_->Stream = stream;
        stream->ImageProcess = new CImageProcess;
        stream->AutoExposure = new CAe;
        korval::testing::FloatingPointScope floatingPoint; // as the pipeline's set-up bracket
        ASSERT_TRUE(stream->ImageProcess->Open(352, 288, 0, IP_FORMAT_BGR24, IP_OUTPUT_CIF, 0, ip));
        tagAeOutput output{};
        ASSERT_TRUE(stream->AutoExposure->Open(352, 288, false, 0, ae, &output));
        ASSERT_TRUE(AllocateOverlayBuffers(stream));
        SetCaptureOpen(context_, TRUE);
    }

    void closeCapture()
    {
        StreamContext* stream = context_ != nullptr ? context_->Stream : nullptr;
        if (stream == nullptr) {
            return;
        }
        SetCaptureOpen(context_, FALSE);
        FreeOverlayBuffers(stream);
        stream->ImageProcess->Close();
        delete stream->ImageProcess;
        stream->AutoExposure->Close();
        delete stream->AutoExposure;
        delete stream;
        context_->Stream = nullptr;
    }

    tagIpParameters ip() const
    {
        tagIpParameters parameters{};
        EXPECT_TRUE(context_->Stream->ImageProcess->GetParameters(&parameters));
        return parameters;
    }
    tagAeParameters ae() const
    {
        tagAeParameters parameters{};
        EXPECT_TRUE(context_->Stream->AutoExposure->GetParameters(&parameters));
        return parameters;
    }

    // --- property requests ----------------------------------------------------

    // What came back from one property SRB.
    struct Answer {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        ULONG bytesReturned = 0;
        std::vector<std::uint8_t> data;

        template <class Record>
        Record as() const
        {
            Record record{};
            std::memcpy(&record, data.data(), std::min(data.size(), sizeof(Record)));
            return record;
        }
    };

    // A property SRB as the class builds it from a client's request: the
    // input and the data buffer both start as `record` with its KSPROPERTY
    // filled in; the data buffer is cut or zero-extended to `dataSize` bytes.
    // The adapter's device property sets are only handed to the class by a
    // started device, so the SRB goes straight to the adapter dispatcher.
    template <class Record>
    Answer property(SRB_COMMAND command, const GUID& set, ULONG id, Record record, std::size_t dataSize = sizeof(Record))
    {
        KSPROPERTY header{};
        header.Set = set;
        header.Id = id;
        header.Flags = command == SRB_SET_DEVICE_PROPERTY ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET;
        std::memcpy(&record, &header, sizeof(header));
        std::vector<std::uint64_t> input(sizeof(Record) / 8 + 1);
        std::memcpy(input.data(), &record, sizeof(Record));
        std::vector<std::uint64_t> data(dataSize / 8 + 1);
        std::memcpy(data.data(), &record, std::min(dataSize, sizeof(Record)));
        STREAM_PROPERTY_DESCRIPTOR descriptor{};
        descriptor.Property = reinterpret_cast<PKSPROPERTY>(input.data());
        descriptor.PropertySetID = setIndex(set);
        descriptor.PropertyInfo = dataSize != 0 ? data.data() : nullptr;
        descriptor.PropertyInputSize = sizeof(Record);
        descriptor.PropertyOutputSize = static_cast<ULONG>(dataSize);
        SrbResult result = device_->sendAdapterSrb(command, [&](HW_STREAM_REQUEST_BLOCK& srb) {
            srb.CommandData.PropertyInfo = &descriptor;
        });
        if (NT_SUCCESS(result.status)) {
            EXPECT_LE(result.actualBytesTransferred, dataSize) << "answer larger than the buffer";
        }
        Answer answer{result.status, result.actualBytesTransferred, {}};
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        answer.data.assign(bytes, bytes + dataSize);
        return answer;
    }

    static ULONG setIndex(const GUID& set)
    {
        ULONG index = 0;
        findPropertySet(DevicePropertySets, DEVICE_PROPERTY_SET_COUNT, set, &index);
        return index;
    }

    // The published description of an item, as the class reads the tables.
    static std::optional<PropertyDescription> describe(const GUID& set, ULONG id)
    {
        const KSPROPERTY_SET* found = findPropertySet(DevicePropertySets, DEVICE_PROPERTY_SET_COUNT, set, nullptr);
        const KSPROPERTY_ITEM* item = found != nullptr ? findPropertyItem(*found, id) : nullptr;
        return item != nullptr ? std::optional(describeItem(*item)) : std::nullopt;
    }

    Answer getProcAmp(ULONG id, std::size_t dataSize = sizeof(KSPROPERTY_VIDEOPROCAMP_S))
    {
        return property(SRB_GET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOPROCAMP, id, KSPROPERTY_VIDEOPROCAMP_S{},
                        dataSize);
    }
    // Value, Flags and Capabilities of a successful 40-byte answer.
    std::array<std::int64_t, 3> procAmp(ULONG id)
    {
        Answer answer = getProcAmp(id);
        EXPECT_EQ(answer.status, STATUS_SUCCESS) << "procamp id " << id;
        EXPECT_EQ(answer.bytesReturned, 40u) << "procamp id " << id;
        auto record = answer.as<KSPROPERTY_VIDEOPROCAMP_S>();
        return {record.Value, record.Flags, record.Capabilities};
    }
    NTSTATUS setProcAmp(ULONG id, LONG value, ULONG flags = KSPROPERTY_VIDEOPROCAMP_FLAGS_MANUAL)
    {
        KSPROPERTY_VIDEOPROCAMP_S record{};
        record.Value = value;
        record.Flags = flags;
        return property(SRB_SET_DEVICE_PROPERTY, PROPSETID_VIDCAP_VIDEOPROCAMP, id, record).status;
    }

    Answer getExposure(std::size_t dataSize = sizeof(KSPROPERTY_CAMERACONTROL_S))
    {
        return property(SRB_GET_DEVICE_PROPERTY, PROPSETID_VIDCAP_CAMERACONTROL, KSPROPERTY_CAMERACONTROL_EXPOSURE,
                        KSPROPERTY_CAMERACONTROL_S{}, dataSize);
    }
    NTSTATUS setExposure(LONG value, ULONG flags)
    {
        KSPROPERTY_CAMERACONTROL_S record{};
        record.Value = value;
        record.Flags = flags;
        return property(SRB_SET_DEVICE_PROPERTY, PROPSETID_VIDCAP_CAMERACONTROL, KSPROPERTY_CAMERACONTROL_EXPOSURE,
                        record).status;
    }

    Answer getPrivate(ULONG id, std::size_t dataSize = sizeof(tagKorvalProperty))
    {
        return property(SRB_GET_DEVICE_PROPERTY, PROPSETID_KORVAL_CAMERA, id, tagKorvalProperty{}, dataSize);
    }
    std::uint32_t privateValue(ULONG id)
    {
        Answer answer = getPrivate(id);
        EXPECT_EQ(answer.status, STATUS_SUCCESS) << "private id " << id;
        EXPECT_EQ(answer.bytesReturned, 32u) << "private id " << id;
        return answer.as<tagKorvalProperty>().ulValue;
    }
    NTSTATUS setPrivate(ULONG id, ULONG value)
    {
        tagKorvalProperty record{};
        record.ulValue = value;
        return property(SRB_SET_DEVICE_PROPERTY, PROPSETID_KORVAL_CAMERA, id, record).status;
    }

    // A property SRB with only a KSPROPERTY as input (`inputSize` bytes of it
    // given) and a data buffer of `dataSize` bytes; or no descriptor at all.
    SrbResult rawProperty(SRB_COMMAND command, const GUID& set, ULONG id, ULONG inputSize, ULONG dataSize,
                          bool withDescriptor = true)
    {
        alignas(8) std::uint8_t input[64] = {};
        alignas(8) std::uint8_t data[64] = {};
        KSPROPERTY header{};
        header.Set = set;
        header.Id = id;
        std::memcpy(input, &header, sizeof(header));
        STREAM_PROPERTY_DESCRIPTOR descriptor{};
        descriptor.Property = reinterpret_cast<PKSPROPERTY>(input);
        descriptor.PropertySetID = setIndex(set);
        descriptor.PropertyInfo = dataSize != 0 ? data : nullptr;
        descriptor.PropertyInputSize = inputSize;
        descriptor.PropertyOutputSize = dataSize;
        return device_->sendAdapterSrb(command, [&](HW_STREAM_REQUEST_BLOCK& srb) {
            srb.CommandData.PropertyInfo = withDescriptor ? &descriptor : nullptr;
        });
    }

    // --- overlay frames -------------------------------------------------------

    // Frame `frame` in C:\frames with a uniform picture and an opaque mask.
    void installOverlay(ULONG frame, std::uint8_t level)
    {
        platform_->registry().setValue(kFrameKey, "PATH", RegistryValue::string("C:\\frames"));
        char name[16];
        std::snprintf(name, sizeof(name), "FN%.4d", static_cast<int>(frame));
        const std::string stem = "frame" + std::to_string(frame);
        platform_->registry().setValue(kFrameKey, name, RegistryValue::string(stem));
        writeBitmap(stem + "p3.bmp", std::vector<std::uint8_t>(OVERLAY_PICTURE_BYTES, level));
        writeBitmap(stem + "m3.bmp", std::vector<std::uint8_t>(OVERLAY_MASK_BYTES, 255));
    }
    void writeBitmap(const std::string& name, const std::vector<std::uint8_t>& pixels)
    {
        std::vector<std::uint8_t> file(54, 0);
        file[0] = 'B';
        file[1] = 'M';
        file[10] = 54;
        file.insert(file.end(), pixels.begin(), pixels.end());
        std::ofstream(machine_ / "C" / "frames" / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    std::uint8_t overlayLevel() const { return context_->Stream->OverlayBuffers[OverlayPicture][0]; }

    std::filesystem::path machine_;
    std::unique_ptr<Platform> platform_;
    ULONG savedWdmLevel_ = 0;
    DRIVER_OBJECT driverObject_{};
    UNICODE_STRING registryPath_{};
    DEVICE_OBJECT physicalDevice_{};
    std::unique_ptr<StreamClassDevice> device_;
    DeviceContext* context_ = nullptr;
};

} // namespace korval::property_test
