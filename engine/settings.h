// One description of each request type and of each parameter a program may set: how a request
// lays out its payload, which parameters it sets and whether it marks them for the save or writes
// them at once, the commands it sends, the values each parameter takes and the names people use for
// them. The engine carries out requests from these tables; the panel, the settings import and
// kelvra-ctl (set, restore, params) read them. A setting that changes is changed here only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/camera_link.h"

// How a request type's payload is read, from its first byte, little-endian.
enum class PayloadView : uint8_t {
    None,
    Value,     // 32-bit signed
    Word,      // 16-bit unsigned
    TwoWords,  // two 16-bit unsigned
    Byte,      // 8-bit unsigned
    Path,      // zero-terminated text
    RawFrame,  // 32-bit count, then that many bytes of one frame
    Marks,     // 32-bit count, then pairs of 16-bit index and 16-bit value
    Indexes,   // 32-bit count, then that many 16-bit indexes
};

// What a request type sends, once its argument has given its parameters' values.
enum class RequestForm : uint8_t {
    MarkAndWords,     // marks its parameters, then each command as a word with its parameter's value
    MarkAndArgument,  // marks its parameters, then its command as a word with the argument itself
    MarkAndChoice,    // marks its one parameter; the value (0 or 1) chooses the bare command sent
    WriteEach,        // writes each parameter to the camera at once; marks nothing
    Bare,             // its command without payload
    VideoSource,      // the digital video source's own sequence of commands and writes
    Special,          // sequence files, the save, raw messages, marks: the engine's own code
};

constexpr int kNoParameter = -1;

struct RequestType {
    int32_t type;
    const char* what;  // in messages: "AGC mode"
    PayloadView view;
    RequestForm form;
    uint8_t commands[2];  // opcodes, in the order sent (0: none)
    int parameters[2];    // the parameters it sets, in order (kNoParameter: none)
    // The argument (and second word) to the parameters' values. False when the type does not take
    // the argument: the request is released without sending anything. Null: every argument.
    bool (*toValues)(int32_t first, int32_t second, uint16_t values[2]);
    // The parameters' values to the argument(s) that give them; `given` has bit i set when
    // values[i] was asked for (the others hold the camera's values). False when none does.
    bool (*fromValues)(const uint16_t values[2], unsigned given, int32_t* first, int32_t* second);
    // Why a pair of values is refused (only for types with two parameters whose values must
    // agree); printf-style: name, value, name, value.
    const char* pairRefusal;
    // The two parameters are set as one: asking for one sets the other, so the pair never depends
    // on the camera's values.
    bool together;
};

// The row of `type`, or null for a type no request has.
const RequestType* FindRequestType(int32_t type);
// Every request type, in type order; `count` gets their number.
const RequestType* RequestTypes(int* count);
// The number of parameters a type sets (0 to 2).
int ParameterCount(const RequestType& type);

// A request of `type` with its argument(s) laid out as the type reads them. A type without a
// row gets its first argument as a 32-bit value.
CameraRequest MakeRequest(int32_t type, int32_t first = 0, int32_t second = 0);
// The argument `which` (0 or 1) of `request`, read as its type lays it out (0 where the type has
// none).
int32_t RequestArgument(const CameraRequest& request, int which);

// A REQ_PLAY_SEQUENCE_FILE request for `path`. False when the path does not fit whole: a path
// cut to fit would name another file.
bool MakePathRequest(std::string_view path, CameraRequest* request);
// A REQ_RAW_MESSAGE request carrying `bytes` unchanged. False when they do not fit.
bool MakeRawRequest(std::span<const uint8_t> bytes, CameraRequest* request);

// A REQ_MARK_PARAMETERS request for `count` pairs (at most kMaxMarkedParameters are taken).
struct ParameterAssignment {
    int index;  // 0..254
    uint16_t value;
};
CameraRequest MakeMarkRequest(const ParameterAssignment* marks, int count);
// A REQ_READ_PARAMETERS request for `indexes`, in order; those outside 0..254 (and beyond
// kMaxReadParameters) are left out.
CameraRequest MakeReadRequest(std::span<const int> indexes);

// A parameter a program may set through a request type, and the values it takes there.
struct ParameterRule {
    int index;
    int32_t request;     // the request type that sets it
    uint16_t low, high;  // the range it takes, unless `choices` lists them
    uint16_t choices[3];
    int choiceCount;
    const char* takes;  // in words: "0 (freeze), 1 (automatic) or 2 (manual)"
};

// The rule of parameter `index`, or null when no request type sets it (only a save writes it).
const ParameterRule* FindParameterRule(int index);
bool RuleTakes(const ParameterRule& rule, uint16_t value);

// The video modes of the digital video source: the source (0..3, as REQ_DIGITAL_VIDEO_SOURCE
// takes it) of Video Output Mux Select and YUV Output (Superframe) Enable, or -1 for no mode.
int VideoSourceOf(uint16_t mux, uint16_t yuv);
// Whether a spatial noise-reduction pair means on: it is on unless both are 0.
bool SpatialNoiseReductionOn(uint16_t paramA, uint16_t paramB);

// Checks values a program asks to set, as kelvra-ctl's set and restore and the panel's settings
// import do before anything is sent. `values` holds 255 entries: the asked values where `given` is
// true, the camera's elsewhere (or anything when `cameraKnown` is false: then only pairs that are set
// together are checked, when both of their values are given). 0 when every given value is one its request
// type takes and each pair it touches agrees; otherwise -1 with the reason in `reason` (and the first refused
// index in `refused`, when not null). Parameters without a rule are not checked here.
int CheckSettings(const uint16_t* values, const bool* given, bool cameraKnown, char* reason, size_t size,
                  int* refused = nullptr);

// CheckSettings for `count` changes to the camera's values `camera` (255 entries), as a restore or
// an import of a settings profile would write them.
int CheckSettingChanges(const uint16_t* camera, const ParameterAssignment* changes, int count, char* reason,
                        size_t size);

// The alias of a parameter's display name: lower case, every run of characters other than
// letters and digits one dash, no dash at either end ("AGC Mode at Power Up" is
// agc-mode-at-power-up).
std::string ParameterAlias(int index);
std::string AliasOf(const char* name);
