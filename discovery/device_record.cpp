#include "discovery/device_record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Hexadecimal number right after the first `tag`, up to the first non-hex character.
uint32_t HexAfter(const char* text, const char* tag) {
    const char* p = std::strstr(text, tag);
    if (p == nullptr) {
        return 0;
    }
    uint32_t value = 0;
    for (p += std::strlen(tag); HexDigit(*p) >= 0; ++p) {
        value = value * 16 + static_cast<uint32_t>(HexDigit(*p));
    }
    return value;
}

}  // namespace

size_t CopyText(char* out, size_t size, const char* text) {
    size_t n = strnlen(text, size - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
    return n;
}

int32_t DecimalAfter(const char* text, const char* tag) {
    const char* p = std::strstr(text, tag);
    if (p == nullptr) {
        return 0;
    }
    int64_t value = 0;
    for (p += std::strlen(tag); *p >= '0' && *p <= '9'; ++p) {
        value = std::min<int64_t>(value * 10 + (*p - '0'), INT32_MAX);
    }
    return static_cast<int32_t>(value);
}

uint32_t HexValue(const char* text) {
    uint32_t value = 0;
    for (const char* p = text; HexDigit(*p) >= 0; ++p) {
        value = value * 16 + static_cast<uint32_t>(HexDigit(*p));
    }
    return value;
}

uint64_t Fnv1a(const char* text, uint64_t hash) {
    for (const char* p = text; *p != '\0'; ++p) {
        hash = (hash ^ static_cast<unsigned char>(*p)) * 0x100000001B3ULL;
    }
    return hash;
}

void ClassGuidOf(const char* className, uint8_t guid[16]) {
    uint64_t a = Fnv1a(className, kFnvBasis);
    uint64_t b = Fnv1a(className, a ^ 0x9E3779B97F4A7C15ULL);
    for (int i = 0; i < 8; ++i) {
        guid[i] = static_cast<uint8_t>(a >> (56 - 8 * i));
        guid[8 + i] = static_cast<uint8_t>(b >> (56 - 8 * i));
    }
}

void ComposeFriendlyName(char* out, const char* product, int comNumber) {
    char suffix[24] = "";
    if (comNumber > 0) {
        std::snprintf(suffix, sizeof suffix, " (COM%d)", comNumber);
    }
    size_t room = kDeviceTextSize - 1 - std::strlen(suffix);
    size_t n = CopyText(out, room + 1, product);
    for (char* p = out; (p = std::strstr(p, "(COM")) != nullptr;) {
        *p = '[';
    }
    std::memcpy(out + n, suffix, std::strlen(suffix) + 1);
}

DeviceRecord* TableFiller::Add(const char* friendlyName, const char* instanceId, uint32_t deviceNode) {
    if (std::strstr(instanceId, "VID_") == nullptr || std::strstr(instanceId, "PID_") == nullptr) {
        return nullptr;
    }
    DeviceRecord& r = table->records[table->count];
    r.comNumber = DecimalAfter(friendlyName, "(COM");
    CopyText(r.friendlyName, sizeof r.friendlyName, friendlyName);
    CopyText(r.instanceId, sizeof r.instanceId, instanceId);
    r.vendorId = HexAfter(instanceId, "VID_");
    r.productId = HexAfter(instanceId, "PID_");
    CopyText(r.className, sizeof r.className, className);
    std::memcpy(r.classGuid, classGuid, sizeof r.classGuid);
    r.deviceNode = deviceNode;
    r.inUse = 1;
    table->count += 1;
    return &r;
}

void ComposeInstanceId(char* out, uint32_t vendorId, uint32_t productId, const char* serial) {
    // Long serials are cut so the whole id stays within 199 characters.
    constexpr int kSerialRoom = static_cast<int>(kIdRoom) - 1 - 22;
    std::snprintf(out, kIdRoom, "USB\\VID_%04X&PID_%04X\\%.*s", vendorId & 0xFFFF, productId & 0xFFFF,
                  kSerialRoom, serial);
}
