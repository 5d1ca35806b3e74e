#pragma once

#include <cstddef>
#include <cstdint>

// On-disk NTFS structure offsets and the reader's own safety limits.
namespace ntfs {

// Boot sector.
constexpr size_t kBootOemId = 3;
constexpr size_t kBootBytesPerSector = 0x0B;
constexpr size_t kBootSectorsPerCluster = 0x0D;
constexpr size_t kBootTotalSectors = 0x28;
constexpr size_t kBootMftLcn = 0x30;
constexpr size_t kBootClustersPerMftRecord = 0x40;
constexpr size_t kBootClustersPerIndexRecord = 0x44;
constexpr const char* kOemId = "NTFS    ";

// Multi-sector records (MFT records and index blocks).
constexpr size_t kUsaOffset = 4;
constexpr size_t kUsaCount = 6;
constexpr size_t kFixupStride = 512;
constexpr const char* kFileMagic = "FILE";
constexpr const char* kIndexMagic = "INDX";

// MFT record header.
constexpr size_t kRecordFirstAttribute = 0x14;
constexpr size_t kRecordFlags = 0x16;
constexpr size_t kRecordBytesInUse = 0x18;
constexpr uint16_t kRecordInUse = 0x0001;

// Attribute header.
constexpr size_t kAttrLength = 4;
constexpr size_t kAttrNonResident = 8;
constexpr size_t kAttrNameLength = 9;
constexpr size_t kAttrNameOffset = 0x0A;
constexpr size_t kAttrFlags = 0x0C;
constexpr size_t kAttrId = 0x0E;
constexpr size_t kAttrValueLength = 0x10;
constexpr size_t kAttrValueOffset = 0x14;
constexpr size_t kResidentHeaderSize = 0x18;
constexpr size_t kAttrLowestVcn = 0x10;
constexpr size_t kAttrMappingPairs = 0x20;
constexpr size_t kAttrAllocatedSize = 0x28;
constexpr size_t kAttrDataSize = 0x30;
constexpr size_t kAttrInitializedSize = 0x38;
constexpr size_t kNonResidentHeaderSize = 0x40;
constexpr uint16_t kAttrCompressed = 0x0001;
constexpr uint16_t kAttrEncrypted = 0x4000;

constexpr uint32_t kTypeStandardInformation = 0x10;
constexpr uint32_t kTypeAttributeList = 0x20;
constexpr uint32_t kTypeFileName = 0x30;
constexpr uint32_t kTypeVolumeName = 0x60;
constexpr uint32_t kTypeData = 0x80;
constexpr uint32_t kTypeIndexRoot = 0x90;
constexpr uint32_t kTypeIndexAllocation = 0xA0;
constexpr uint32_t kTypeReparsePoint = 0xC0;
constexpr uint32_t kTypeEnd = 0xFFFFFFFF;

// $STANDARD_INFORMATION value.
constexpr size_t kInfoFileAttributes = 0x20;
constexpr uint32_t kFileAttrReparsePoint = 0x400;

// $ATTRIBUTE_LIST entry.
constexpr size_t kListEntryLength = 4;
constexpr size_t kListNameLength = 6;
constexpr size_t kListNameOffset = 7;
constexpr size_t kListLowestVcn = 8;
constexpr size_t kListSegment = 0x10;
constexpr size_t kListEntryMinSize = 0x1A;

// $FILE_NAME value.
constexpr size_t kNameCreationTime = 0x08;
constexpr size_t kNameWriteTime = 0x10;
constexpr size_t kNameAccessTime = 0x20;
constexpr size_t kNameDataSize = 0x30;
constexpr size_t kNameFlags = 0x38;
constexpr size_t kNameLength = 0x40;
constexpr size_t kNameSpace = 0x41;
constexpr size_t kNameChars = 0x42;
constexpr uint8_t kNamespaceDos = 2;
constexpr uint32_t kNameFlagDirectory = 0x10000000;

// $INDEX_ROOT value, index node header and index entries.
constexpr size_t kRootIndexRecordSize = 0x08;
constexpr size_t kRootNodeHeader = 0x10;
constexpr size_t kNodeEntriesOffset = 0x00;
constexpr size_t kNodeEntriesEnd = 0x04;
constexpr size_t kNodeHeaderSize = 0x10;
constexpr size_t kIndexBlockNodeHeader = 0x18;
constexpr size_t kEntryLength = 0x08;
constexpr size_t kEntryKeyLength = 0x0A;
constexpr size_t kEntryFlags = 0x0C;
constexpr size_t kEntryKey = 0x10;
constexpr uint16_t kEntryHasChild = 0x0001;
constexpr uint16_t kEntryLast = 0x0002;

// Well-known MFT records.
constexpr uint64_t kRecordMft = 0;
constexpr uint64_t kRecordVolume = 3;
constexpr uint64_t kRecordRoot = 5;
constexpr uint64_t kRecordUpCase = 10;
constexpr uint64_t kFirstUserRecord = 16;
constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;

// Windows attribute bits reported in listings.
constexpr uint32_t kWinAttrDirectory = 0x10;
constexpr uint32_t kWinAttrNormal = 0x80;

// Limits that keep a damaged volume from exhausting memory or looping.
constexpr uint32_t kMinRecordSize = 512;
constexpr uint32_t kMaxRecordSize = 65536;
constexpr uint32_t kMaxClusterSize = 2u * 1024 * 1024;
constexpr uint64_t kMaxVcn = 1ull << 40;
constexpr uint64_t kMaxAttributeListSize = 1024 * 1024;
constexpr unsigned kMaxIndexDepth = 32;
constexpr size_t kUpCaseChars = 65536;
// Staging for partial sectors and for callers' buffers that are not sector-aligned.
constexpr uint64_t kBounceBytes = 1024 * 1024;
// One device transfer stays well below the 32-bit byte count of a sector read.
constexpr uint64_t kMaxTransferBytes = 1024ull * 1024 * 1024;

}  // namespace ntfs
