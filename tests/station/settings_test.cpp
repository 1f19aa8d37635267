#include "zvstation/settings.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_space.hpp"

namespace zs = zv::station;

namespace {

TEST(ServerSettings, WrittenSettingsReadBack) {
    zvtest::TempFileSpace space;
    zs::ServerSettings settings = zs::DemoSettings(3, 2000);
    settings.sensors[1].enabled = 0;
    std::string error;
    const std::string file = "Settings.xml";
    ASSERT_TRUE(zs::WriteServerSettings(file, settings, &error)) << error;
    zs::ServerSettings read;
    ASSERT_TRUE(zs::ReadServerSettings(file, &read, &error)) << error;
    EXPECT_DOUBLE_EQ(read.encoderResolution, 1.0);
    ASSERT_EQ(read.sensors.size(), 3u);
    EXPECT_EQ(read.sensors[0].name, "A");
    EXPECT_EQ(read.sensors[2].serial, 2002u);
    EXPECT_EQ(read.sensors[1].enabled, 0);
    EXPECT_EQ(read.sensors[2].vertexView, 2u);
    ASSERT_EQ(read.target.size(), 4u);
    // Vertices are written with decimals and read as integers.
    EXPECT_EQ(read.target[0].x, 7500);
    EXPECT_EQ(read.target[2].y, 19500);
    EXPECT_EQ(space.List(), std::vector<std::string>{"Settings.xml"});
}

TEST(ServerSettings, ReadsTheElementsThePlugInReads) {
    zvtest::TempFileSpace space;
    const std::string file = "settings.XML";  // names match without regard to case
    std::ofstream(space.Path() / "Settings.xml")
        << "<Anything><EncoderResolution>2.5</EncoderResolution><MaxSlices>3</MaxSlices>"
           "<CalibrationTarget><V><X>12.9</X><Y>-4</Y></V></CalibrationTarget>"
           "<Members><SensorGroup><Members>"
           "<S><Name>Left</Name><SerialNumber>77</SerialNumber><Enabled>2</Enabled>"
           "<VertexView>5</VertexView></S>"
           "<S><Name>Right</Name><SerialNumber>abc</SerialNumber></S>"
           "</Members></SensorGroup></Members></Anything>";
    zs::ServerSettings read;
    std::string error;
    ASSERT_TRUE(zs::ReadServerSettings(file, &read, &error)) << error;
    EXPECT_DOUBLE_EQ(read.encoderResolution, 2.5);
    EXPECT_EQ(read.maxSlices, 3);
    ASSERT_EQ(read.target.size(), 1u);
    EXPECT_EQ(read.target[0].x, 12);
    EXPECT_EQ(read.target[0].y, -4);
    ASSERT_EQ(read.sensors.size(), 2u);
    EXPECT_EQ(read.sensors[0].enabled, 2);  // kept as read
    EXPECT_EQ(read.sensors[0].vertexView, 5u);
    EXPECT_EQ(read.sensors[1].serial, 0u);  // no number reads as 0
    EXPECT_EQ(read.sensors[1].enabled, 0);
}

TEST(ServerSettings, BadDocumentsAreRefused) {
    zvtest::TempFileSpace space;
    const std::string file = "Settings.xml";
    const auto host = space.Path() / "Settings.xml";
    zs::ServerSettings read;
    std::string error;
    EXPECT_FALSE(zs::ReadServerSettings(file, &read, &error));  // missing
    std::ofstream(host) << "<Root><Members></Root>";
    EXPECT_FALSE(zs::ReadServerSettings(file, &read, &error));
    std::ofstream(host, std::ios::trunc) << "<Root><Members/></Root>";
    EXPECT_FALSE(zs::ReadServerSettings(file, &read, &error));
    EXPECT_NE(error.find("sensor group"), std::string::npos) << error;
}

}  // namespace
