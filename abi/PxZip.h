#pragma once
// The parameter block of libpxzip.so (adding files, deleting entries) and its two entry
// points. The component fills every fixed field before each call; the fields named
// Switch.. are fixed values the library may ignore. Text fields point to NUL-terminated
// byte strings owned by the caller for the length of the call.
#include "abi/ZipCallback.h"

extern "C" {

#define PX_MAX_FILE_NAMES 4097
#define PX_INTERFACE_VERSION 120
#define PX_CHECK_VALUE 7

typedef struct ZipExecParams {
    int32_t Handle;           // 0
    void *CallerObject;       // handed back in every callback record
    int32_t InterfaceVersion; // PX_INTERFACE_VERSION
    PxLibCallback CallbackProc;
    int32_t TraceFlag;
    int32_t Switch05;
    int32_t Switch06; // never written: 0
    int32_t Switch07;
    int32_t HiddenFilesFlag; // include names that start with "."
    int32_t Switch09;
    int32_t Switch10;
    int32_t Switch11;
    int32_t Switch12;
    int32_t VerboseFlag;
    int32_t Switch14;
    int32_t CompressionLevel; // 0 stores, 1..9 deflate (plain number, not a flag)
    int32_t Switch16;
    int32_t Switch17;
    int32_t StripDirNamesFlag; // store base names only
    int32_t RecurseFlag;       // a directory stands for its whole tree
    int32_t Switch20;
    int32_t ForceDosFlag;      // 8.3 upper-case names
    int32_t MoveFlag;          // delete the sources once the archive is in place
    int32_t DeleteEntriesFlag; // FileNames are stored names to remove
    int32_t UpdateFlag;        // add new files, replace older entries
    int32_t FreshenFlag;       // only replace older existing entries
    int32_t Switch26;
    int32_t ZipTimeFlag;    // archive time becomes that of its newest entry
    int32_t EncryptFlag;    // new entries are AES-256 encrypted (password: PX_PASSWORD_NEW)
    int32_t StoreLinksFlag; // symbolic links are stored as links, not followed
    int32_t ArgCount;       // FileNames in use
    char *ZipFileNamePtr;   // the archive's path
    int32_t CheckValue;     // PX_CHECK_VALUE
    char *FileNames[PX_MAX_FILE_NAMES];
} ZipExecParams;

// Returns the number of files processed (directory entries are not counted).
typedef int32_t (*PxZipExecFn)(ZipExecParams *params);
typedef int32_t (*GetPxZipVersionFn)(void);

} // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ZipExecParams) == 16520);
static_assert(offsetof(ZipExecParams, Handle) == 0);
static_assert(offsetof(ZipExecParams, CallerObject) == 4);
static_assert(offsetof(ZipExecParams, InterfaceVersion) == 8);
static_assert(offsetof(ZipExecParams, CallbackProc) == 12);
static_assert(offsetof(ZipExecParams, TraceFlag) == 16);
static_assert(offsetof(ZipExecParams, Switch05) == 20);
static_assert(offsetof(ZipExecParams, Switch06) == 24);
static_assert(offsetof(ZipExecParams, Switch07) == 28);
static_assert(offsetof(ZipExecParams, HiddenFilesFlag) == 32);
static_assert(offsetof(ZipExecParams, Switch09) == 36);
static_assert(offsetof(ZipExecParams, Switch10) == 40);
static_assert(offsetof(ZipExecParams, Switch11) == 44);
static_assert(offsetof(ZipExecParams, Switch12) == 48);
static_assert(offsetof(ZipExecParams, VerboseFlag) == 52);
static_assert(offsetof(ZipExecParams, Switch14) == 56);
static_assert(offsetof(ZipExecParams, CompressionLevel) == 60);
static_assert(offsetof(ZipExecParams, Switch16) == 64);
static_assert(offsetof(ZipExecParams, Switch17) == 68);
static_assert(offsetof(ZipExecParams, StripDirNamesFlag) == 72);
static_assert(offsetof(ZipExecParams, RecurseFlag) == 76);
static_assert(offsetof(ZipExecParams, Switch20) == 80);
static_assert(offsetof(ZipExecParams, ForceDosFlag) == 84);
static_assert(offsetof(ZipExecParams, MoveFlag) == 88);
static_assert(offsetof(ZipExecParams, DeleteEntriesFlag) == 92);
static_assert(offsetof(ZipExecParams, UpdateFlag) == 96);
static_assert(offsetof(ZipExecParams, FreshenFlag) == 100);
static_assert(offsetof(ZipExecParams, Switch26) == 104);
static_assert(offsetof(ZipExecParams, ZipTimeFlag) == 108);
static_assert(offsetof(ZipExecParams, EncryptFlag) == 112);
static_assert(offsetof(ZipExecParams, StoreLinksFlag) == 116);
static_assert(offsetof(ZipExecParams, ArgCount) == 120);
static_assert(offsetof(ZipExecParams, ZipFileNamePtr) == 124);
static_assert(offsetof(ZipExecParams, CheckValue) == 128);
static_assert(offsetof(ZipExecParams, FileNames) == 132);
#endif
