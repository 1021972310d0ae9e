#include <gtest/gtest.h>

#include <map>
#include <string>

#include "protocol/commands.h"
#include "protocol/parameters.h"

namespace {

using NameTable = std::map<unsigned, std::string>;

// Written with literal numbers so that a wrong constant in the headers shows up too.
const NameTable kCommandNames = {
    {0x07, "System Version Get Command Message"},
    {0x12, "Auto-Cal Period Set Command Message"},
    {0x13, "Auto-Cal Period Get Command Message"},
    {0x18, "Tcomp Disable Command Message"},
    {0x1E, "ICE Strength Command Message"},
    {0x1F, "ICE High Frequency Threshold Set Command Message"},
    {0x22, "ICE Mode Min Max Command Message"},
    {0x23, "ICE Mode Enable Command Message"},
    {0x25, "Automatic Calibration Pending Activity Query Command Message"},
    {0x26, "Automatic Calibration Activity Control Command Message"},
    {0x27, "Field Calibration Command Message"},
    {0x28, "Black Hot Polarity Set Command Message"},
    {0x29, "White Hot Polarity Set Command Message"},
    {0x2A, "AGC Mode Set Command Message"},
    {0x32, "Set Manual AGC Gain Command Message"},
    {0x33, "Set Manual AGC Level Command Message"},
    {0x34, "Defective Pixel Map Row Add Command Message"},
    {0x35, "Defective Pixel Map Remove Item Command Message"},
    {0x36, "Defective Pixel Map Column Add Command Message"},
    {0x37, "Defective Pixel Map Cursor Value Set Command Message"},
    {0x38, "Defective Pixel Map Cursor Enable Command Message"},
    {0x3A, "Defective Pixel Map Cursor Position Set Command Message"},
    {0x3B, "Defective Pixel Map Pixel Add Command Message"},
    {0x3C, "Defective Pixel Map Remove All Command Message"},
    {0x43, "Data Transfer Abort Command Message"},
    {0x46, "Data Transfer Download Retry Command Message"},
    {0x47, "Data Transfer Download Complete Command Message"},
    {0x58, "HSV Colorization Command Message"},
    {0x72, "Data Transfer Upload Packet Command Message"},
    {0x73, "Data Transfer Download Setup Command Message"},
    {0x74, "Data Transfer Upload Setup Command Message"},
    {0x81, "Field Calibration Disable Shutter Set Command Message"},
    {0x82, "AGC Gain Bias Set Command Message"},
    {0x83, "AGC Level Bias Set Command Message"},
    {0x85, "Shutdown Command Message"},
    {0x9E, "Startup Command Message"},
    {0xA0, "AGC Options Set Command Message"},
    {0xA4, "Zoom Magnification Set Command Message"},
    {0xA5, "Set Zoom Pan Command Message"},
    {0xA6, "Store Zoom Current Settings Command Message"},
    {0xAC, "Toggle Automatic Calibration Command Message"},
    {0xB0, "Set Non-Volatile Parameters Command Message"},
    {0xB3, "Set Default Non-Volatile Parameters Command Message"},
    {0xB5, "Get Non-Volatile Parameters Command Message"},
    {0xC3, "YUV Digital Video Source Selection Command Message"},
    {0xCA, "Customer Non-Volatile Read Command Message"},
    {0xCB, "Customer Non-Volatile Write Command Message"},
    {0xCC, "enable Colorization Command Message"},
    {0xCD, "8-Bit Colorization Selection Command Message"},
    {0xCF, "Video Orientation Command Message"},
    {0xD1, "AGC Gain Limit Set Command Message"},
    {0xD2, "AGC Flatten Offset Set Command Message"},
    {0xD7, "Digital Video Source Selection Command Message"},
    {0xD8, "RS170 Test Pattern Enable Command Message"},
    {0xF1, "Baud Rate Set Command Message"},
    {0xF2, "System Status Get Command Message"},
    {0xF4, "Test Pattern Select Command Message"},
    {0xFB, "Defective Pixel Map Flash Burn Command Message"},
    {0xFF, "Verbose Mode Toggle Command Message"},
};

const NameTable kResponseNames = {
    {0x00, "Text Response Message"},
    {0x02, "ACK Response Message"},
    {0x03, "NAK Response Message"},
    {0x04, "Error Response Message"},
    {0x41, "Data Transfer Download Packet Response Message"},
    {0x45, "Value Response Message"},
    {0x72, "Data Transfer Upload Packet Response Message"},
    {0x74, "Data Transfer Setup Response Message"},
    {0xF2, "System Status Reesponse Message"},
};

const NameTable kParameterNames = {
    {0x01, "RS170 Mode Select"},
    {0x02, "RS170 Invert Enable"},
    {0x03, "RS170 Revert Enable"},
    {0x04, "RS170 Output Enable"},
    {0x05, "Parallel Digital Output Enable"},
    {0x06, "Camera Link Output Enable"},
    {0x07, "Video Output Mux Select"},
    {0x08, "AGC Gain Limit"},
    {0x09, "AGC_GAIN_FLATTEN_OFFSET"},
    {0x0B, "AGC Gain Upper Lower Bounds Percent"},
    {0x0E, "Automatic Field Calibration Interval"},
    {0x10, "Frame Rate"},
    {0x11, "Genlock Enable"},
    {0x12, "Genlock Master Enable"},
    {0x13, "Genlock Delay"},
    {0x22, "Serial Port Baud Rate"},
    {0x23, "Autocal Activity Control"},
    {0x24, "AGC Limit Noise Reduction Mode"},
    {0x26, "AGC Black Hot Enable at Power Up"},
    {0x27, "AGC Auto Mode Gain Bias at Power Up"},
    {0x28, "AGC Auto Mode Level Bias at Power Up"},
    {0x29, "AGC Manual Mode Gain at Power Up"},
    {0x2A, "AGC Manual Mode Level at Power Up"},
    {0x2B, "AGC Mode at Power Up"},
    {0x2D, "8-Bit Colorization Selection"},
    {0x2E, "Enable Colorization"},
    {0x2F, "ICE Mode Enable"},
    {0x30, "Frame Buffer Video Suspend Action"},
    {0x31, "Video Suspend Gray Value"},
    {0x34, "Symbology Enable"},
    {0x35, "Symbology 1-Point Display Indication"},
    {0x36, "Symbology Enable Orlan Logo"},
    {0x37, "Symbology Polarity Enable"},
    {0x38, "Symbology Startup Time Duration"},
    {0x39, "Symbology Zoom Enable"},
    {0x3A, "AGC ROI Starting Column"},
    {0x3B, "AGC ROI Starting Row"},
    {0x3C, "AGC ROI Ending Column"},
    {0x3D, "AGC ROI Ending Row"},
    {0x3F, "Lens Calibration Enable"},
    {0x40, "Lens Calibration Table Selection"},
    {0x41, "ICE Mode Min Max On"},
    {0x42, "Symbology Field Calibration Enable"},
    {0x43, "Zoom Magnification Power On Value"},
    {0x44, "Zoom Horizontal Offset Power On Value"},
    {0x45, "Zoom Vertical Offset Power On Value"},
    {0x47, "ICE Power On Slope Limit"},
    {0x48, "Crosshairs Enable"},
    {0x49, "Crosshairs Border Enable"},
    {0x4A, "Crosshairs X Location"},
    {0x4B, "Crosshairs Y Location"},
    {0x4C, "YUV Output (Superframe) Enable"},
    {0x4D, "ICE High Frequency Threshold"},
    {0x4E, "Frame Buffer Enable"},
    {0x4F, "ICE Strength"},
    {0x59, "Temporal NR Enable"},
    {0x5A, "Temporal NR Threshold"},
    {0xB9, "Spatial NR Param A"},
    {0xBA, "Spatial NR Param B"},
};

// Every code 0..255: the named ones by their text, all others as the unknown text.
template <typename NameOf>
void ExpectCatalogue(const NameTable& table, const char* unknown, NameOf nameOf) {
    for (unsigned code = 0; code < 256; ++code) {
        const auto it = table.find(code);
        EXPECT_STREQ(nameOf(code), it == table.end() ? unknown : it->second.c_str()) << "code " << code;
    }
}

TEST(CommandName, EveryOpcode) {
    ExpectCatalogue(kCommandNames, "Unknown Command Message",
                    [](unsigned code) { return CommandName(static_cast<uint8_t>(code)); });
}

TEST(CommandName, OddEntriesKeepTheirExactText) {
    EXPECT_STREQ(CommandName(0xCC), "enable Colorization Command Message");
    EXPECT_STREQ(CommandName(CMD_LENS_CALIBRATION_CONTROL), "Unknown Command Message");
    EXPECT_STREQ(CommandName(0x00), "Unknown Command Message");
    EXPECT_STREQ(CommandName(0x08), "Unknown Command Message");
}

TEST(ResponseName, EveryOpcode) {
    ExpectCatalogue(kResponseNames, "Unknown Response Message",
                    [](unsigned code) { return ResponseName(static_cast<uint8_t>(code)); });
}

TEST(ResponseName, SharedOpcodesDependOnDirection) {
    EXPECT_STREQ(ResponseName(0xF2), "System Status Reesponse Message");
    EXPECT_STREQ(CommandName(0xF2), "System Status Get Command Message");
    EXPECT_STREQ(ResponseName(0x72), "Data Transfer Upload Packet Response Message");
    EXPECT_STREQ(CommandName(0x72), "Data Transfer Upload Packet Command Message");
    EXPECT_STREQ(ResponseName(0x74), "Data Transfer Setup Response Message");
    EXPECT_STREQ(CommandName(0x74), "Data Transfer Upload Setup Command Message");
    EXPECT_STREQ(ResponseName(0x01), "Unknown Response Message");
}

TEST(ParameterName, EveryIndex) {
    ExpectCatalogue(kParameterNames, "Unknown Parameter", [](unsigned code) { return ParameterName(code); });
    EXPECT_STREQ(ParameterName(0x09), "AGC_GAIN_FLATTEN_OFFSET");
    EXPECT_STREQ(ParameterName(0x4C), "YUV Output (Superframe) Enable");
}

TEST(ParameterName, OnlyTheLowByteCounts) {
    EXPECT_STREQ(ParameterName(0x1B9), "Spatial NR Param A");
    EXPECT_STREQ(ParameterName(0xFF09), "AGC_GAIN_FLATTEN_OFFSET");
    EXPECT_STREQ(ParameterName(0x100), "Unknown Parameter");
    EXPECT_STREQ(ParameterName(0xFFFFFFFFu), "Unknown Parameter");
}

}  // namespace
