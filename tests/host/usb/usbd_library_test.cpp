// The USBD library walks: finding alternate settings and endpoints in the
// camera's configuration, refusing malformed descriptor sets without reading
// past them, and building the select-configuration request.
#include "camera/device/descriptors.h"
#include "host/kernel/pool.h"
#include "host/usb/usbd_library.h"
#include "platform/Pool.h"
#include "platform/Usb.h"

#include <gtest/gtest.h>

#include <vector>

namespace korval::host {
namespace {

PUSB_CONFIGURATION_DESCRIPTOR asConfig(std::vector<std::uint8_t>& bytes)
{
    return reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.data());
}

TEST(UsbdParse, FindsEveryAlternateSettingAndItsEndpointsInOrder)
{
    auto bytes = camera::buildConfigurationDescriptor({});
    PUSB_CONFIGURATION_DESCRIPTOR config = asConfig(bytes);
    for (int alternate = 0; alternate < 9; ++alternate) {
        PUSB_INTERFACE_DESCRIPTOR interface =
            USBD_ParseConfigurationDescriptorEx(config, config, 0, alternate, -1, -1, -1);
        ASSERT_NE(interface, nullptr);
        EXPECT_EQ(interface->bAlternateSetting, alternate);
        auto* start = reinterpret_cast<UCHAR*>(interface);
        for (int i = 0; i < interface->bNumEndpoints; ++i) {
            auto* endpoint = reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(
                USBD_ParseDescriptors(config, config->wTotalLength, start, USB_ENDPOINT_DESCRIPTOR_TYPE));
            ASSERT_NE(endpoint, nullptr);
            if (i == 4) {
                const USHORT packet = endpoint->wMaxPacketSize; // packed: read by value
                EXPECT_EQ(packet, camera::videoPacketSize(alternate));
            }
            start = reinterpret_cast<UCHAR*>(endpoint) + endpoint->bLength;
        }
    }
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, 0, 9, -1, -1, -1), nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, 1, 0, -1, -1, -1), nullptr);
    EXPECT_NE(USBD_ParseConfigurationDescriptorEx(config, config, -1, 3, 0xFF, -1, -1), nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, -1, 3, 0x0E, -1, -1), nullptr);
}

TEST(UsbdParse, AMissingAlternateSettingIsNotFound)
{
    camera::DescriptorOptions options;
    options.alternateSettings = 8;
    auto bytes = camera::buildConfigurationDescriptor(options);
    PUSB_CONFIGURATION_DESCRIPTOR config = asConfig(bytes);
    EXPECT_NE(USBD_ParseConfigurationDescriptorEx(config, config, 0, 7, -1, -1, -1), nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(config, config, 0, 8, -1, -1, -1), nullptr);
}

TEST(UsbdParse, MalformedDescriptorsEndTheWalk)
{
    auto bytes = camera::buildConfigurationDescriptor({});
    // A zero-length descriptor in the middle would loop for ever if followed.
    auto zeroed = bytes;
    zeroed[9 + 9] = 0;
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(asConfig(zeroed), asConfig(zeroed), 0, 5, -1, -1, -1), nullptr);
    // A descriptor that claims to run past wTotalLength is not returned.
    auto truncated = bytes;
    truncated[2] = 12;
    truncated[3] = 0;
    EXPECT_EQ(USBD_ParseDescriptors(truncated.data(), 12, truncated.data() + 9, USB_INTERFACE_DESCRIPTOR_TYPE),
              nullptr);
    EXPECT_EQ(USBD_ParseDescriptors(bytes.data(), 9, bytes.data() + 20, USB_INTERFACE_DESCRIPTOR_TYPE), nullptr);
    EXPECT_EQ(USBD_ParseDescriptors(nullptr, 9, bytes.data(), USB_INTERFACE_DESCRIPTOR_TYPE), nullptr);
    EXPECT_EQ(USBD_ParseConfigurationDescriptorEx(nullptr, nullptr, 0, 0, -1, -1, -1), nullptr);
}

TEST(UsbdCreateConfiguration, BuildsOneInterfaceWithAllItsPipesFromPool)
{
    resetPoolCounters();
    auto bytes = camera::buildConfigurationDescriptor({});
    PUSB_CONFIGURATION_DESCRIPTOR config = asConfig(bytes);
    PUSB_INTERFACE_DESCRIPTOR interface0 = USBD_ParseConfigurationDescriptorEx(config, config, 0, 0, -1, -1, -1);
    USBD_INTERFACE_LIST_ENTRY list[2] = {{interface0, nullptr}, {nullptr, nullptr}};
    PURB urb = USBD_CreateConfigurationRequestEx(config, list);
    ASSERT_NE(urb, nullptr);
    EXPECT_EQ(urb->UrbHeader.Function, URB_FUNCTION_SELECT_CONFIGURATION);
    EXPECT_EQ(urb->UrbHeader.Length,
              offsetof(struct _URB_SELECT_CONFIGURATION, Interface) + GET_USBD_INTERFACE_SIZE(6));
    EXPECT_EQ(urb->UrbSelectConfiguration.ConfigurationDescriptor, config);
    ASSERT_EQ(list[0].Interface, &urb->UrbSelectConfiguration.Interface);
    EXPECT_EQ(list[0].Interface->NumberOfPipes, 6U);
    EXPECT_EQ(list[0].Interface->Length, GET_USBD_INTERFACE_SIZE(6));
    EXPECT_EQ(poolCounters(kUsbdPoolTag).outstandingBlocks, 1U);
    ExFreePool(urb);
    checkNoPoolLeaks(kUsbdPoolTag);

    failPoolAllocation(1);
    list[0].Interface = nullptr;
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(config, list), nullptr);
    USBD_INTERFACE_LIST_ENTRY empty[1] = {{nullptr, nullptr}};
    EXPECT_EQ(USBD_CreateConfigurationRequestEx(config, empty), nullptr);
}

} // namespace
} // namespace korval::host
