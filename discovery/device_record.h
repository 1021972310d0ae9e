// How one found device is written into a DeviceRecord: its texts are composed here and its
// numbers parsed back out of them, as for every record. Private to the device scan.
#pragma once

#include <cstddef>
#include <cstdint>

#include "discovery/discovery.h"

constexpr size_t kIdRoom = 200;  // instance ids hold at most 199 characters

// Copies at most size-1 bytes of `text` and terminates; returns the length copied.
size_t CopyText(char* out, size_t size, const char* text);

// Hexadecimal number at the start of `text`, up to the first non-hex character.
uint32_t HexValue(const char* text);
// Decimal number right after the first `tag`; 0 without the tag. Saturates rather than
// overflow.
int32_t DecimalAfter(const char* text, const char* tag);

// 64-bit FNV-1a of `text`, continuing from `hash` (kFnvBasis to start).
constexpr uint64_t kFnvBasis = 0xCBF29CE484222325ULL;
uint64_t Fnv1a(const char* text, uint64_t hash);
// The stable classGuid of records found under `className`.
void ClassGuidOf(const char* className, uint8_t guid[16]);

// "<product> (COMn)", or the product alone when there is no COM number. The product is
// shortened so that the COM suffix always fits, and a "(COM" inside the product is
// defused so the number parsed back is the one appended here.
void ComposeFriendlyName(char* out, const char* product, int comNumber);
// "USB\VID_vvvv&PID_pppp\<serial>" into `out`, which holds kIdRoom bytes.
void ComposeInstanceId(char* out, uint32_t vendorId, uint32_t productId, const char* serial);

// Appends records of one class to a table.
struct TableFiller {
    DeviceTable* table;
    const char* className;
    uint8_t classGuid[16];
    int result = 0;

    bool Full() const { return table->count >= kDeviceTableSize; }

    // Stores one device: fills the texts and parses the numbers back out of them. Returns
    // the slot, or null when the identifier lacks the tags.
    DeviceRecord* Add(const char* friendlyName, const char* instanceId, uint32_t deviceNode);
};
