// What the adapter publishes about each device property, as a client reads
// it through the class: directions, minimum sizes, ranges and defaults.
#include "PropertyFixture.h"

namespace korval::property_test {
namespace {

struct Published {
    ULONG id;
    bool set;
    ULONG minProperty, minData, serialized;
    LONG step, minimum, maximum;
    std::vector<LONG> defaults;
};

void expectPublished(const std::optional<PropertyDescription>& description, const Published& expected)
{
    ASSERT_TRUE(description.has_value()) << "id " << expected.id;
    EXPECT_TRUE(description->get) << "id " << expected.id;
    EXPECT_EQ(description->set, expected.set) << "id " << expected.id;
    EXPECT_EQ(description->minProperty, expected.minProperty) << "id " << expected.id;
    EXPECT_EQ(description->minData, expected.minData) << "id " << expected.id;
    EXPECT_EQ(description->serializedSize, expected.serialized) << "id " << expected.id;
    if (expected.step == 0) {
        EXPECT_TRUE(description->steppedRanges.empty()) << "id " << expected.id;
        return;
    }
    ASSERT_EQ(description->steppedRanges.size(), 1u) << "id " << expected.id;
    const KSPROPERTY_STEPPING_LONG& range = description->steppedRanges[0];
    EXPECT_EQ(static_cast<LONG>(range.SteppingDelta), expected.step) << "id " << expected.id;
    EXPECT_EQ(range.Bounds.SignedMinimum, expected.minimum) << "id " << expected.id;
    EXPECT_EQ(range.Bounds.SignedMaximum, expected.maximum) << "id " << expected.id;
    EXPECT_EQ(description->defaults, expected.defaults) << "id " << expected.id;
}

TEST_F(PropertyTest, VideoProcAmpPublishesNineManualItemsWithRunOfDefaults)
{
    const std::vector<Published> items = {
        {0, true, 40, 40, 4, 1, 0, 510, {255, 0, 0, 160}},
        {1, true, 40, 40, 4, 1, 0, 255, {0, 0, 160, 4}},
        {2, true, 40, 40, 4, 1, 0, 360, {0, 160, 4, 70}},
        {3, true, 40, 40, 4, 1, 0, 200, {160, 4, 70, 1}},
        {4, true, 40, 40, 4, 1, 0, 16, {4, 70, 1, 0}},
        {5, true, 40, 40, 4, 1, 0, 150, {70, 1, 0, 0}},
        {6, true, 40, 40, 4, 1, 0, 1, {1}},
        {7, true, 40, 40, 4, 1, 0, 10000, {0}},
        {8, true, 40, 40, 4, 1, 0, 200, {0}},
    };
    for (const Published& item : items) {
        expectPublished(describe(PROPSETID_VIDCAP_VIDEOPROCAMP, item.id), item);
    }
    EXPECT_FALSE(describe(PROPSETID_VIDCAP_VIDEOPROCAMP, 9).has_value());
}

TEST_F(PropertyTest, VideoControlAndCameraControlItems)
{
    expectPublished(describe(PROPSETID_VIDCAP_VIDEOCONTROL, 0), {0, false, 32, 32, 0, 0, 0, 0, {}});
    expectPublished(describe(PROPSETID_VIDCAP_VIDEOCONTROL, 1), {1, false, 56, 56, 0, 0, 0, 0, {}});
    expectPublished(describe(PROPSETID_VIDCAP_VIDEOCONTROL, 2), {2, false, 40, 0, 0, 0, 0, 0, {}});
    expectPublished(describe(PROPSETID_VIDCAP_VIDEOCONTROL, 3), {3, true, 32, 32, 0, 0, 0, 0, {}});
    expectPublished(describe(PROPSETID_VIDCAP_CAMERACONTROL, 4), {4, true, 40, 40, 4, 1, 0, 255, {100, 100, 255, 0}});
    EXPECT_FALSE(describe(PROPSETID_VIDCAP_CAMERACONTROL, 0).has_value());
}

TEST_F(PropertyTest, PrivateSetPublishesNineteenItems)
{
    const std::vector<Published> items = {
        {1, true, 32, 32, 0, 1, 0, 255, {100}},   {2, true, 32, 32, 0, 10, 50, 60, {60}},
        {3, true, 32, 32, 0, 1, 0, 1, {1}},       {4, true, 32, 32, 0, 1, 0, 1, {0}},
        {5, true, 32, 32, 0, 1, 0, 1, {0}},       {6, true, 32, 32, 0, 1, 0, 1, {0}},
        {7, true, 32, 32, 0, 1, 0, 1, {1}},       {8, true, 32, 32, 0, 1, 0, 1, {1}},
        {9, true, 32, 32, 0, 1, 0, 1, {0}},       {10, true, 32, 32, 0, 1, 0, 9, {0}},
        {11, true, 32, 32, 0, 1, 0, 1, {0}},      {12, true, 32, 32, 0, 1, 0, 8, {0}},
        {13, true, 32, 32, 0, 1, 0, 2, {0}},      {14, true, 32, 32, 0, 1, 64, 255, {128}},
        {15, true, 32, 32, 0, 1, 64, 255, {128}}, {16, true, 32, 32, 0, 1, 64, 255, {128}},
        {20, true, 32, 32, 0, 1, 0, 255, {0}},    {21, true, 32, 32, 0, 1, 0, 255, {0}},
        {22, true, 32, 32, 0, 1, 0, 255, {0}},
    };
    for (const Published& item : items) {
        expectPublished(describe(PROPSETID_KORVAL_CAMERA, item.id), item);
    }
    for (ULONG id : {0u, 17u, 18u, 19u, 23u}) {
        EXPECT_FALSE(describe(PROPSETID_KORVAL_CAMERA, id).has_value()) << id;
    }
    const KSPROPERTY_SET& set = DevicePropertySets[3];
    ASSERT_EQ(set.PropertiesCount, 19u);
    const ULONG order[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 21, 20, 22};
    for (ULONG i = 0; i < 19; ++i) {
        EXPECT_EQ(set.PropertyItem[i].PropertyId, order[i]) << "table position " << i;
    }
}

} // namespace
} // namespace korval::property_test
