#pragma once
// The parameter block of libpxunz.so (extracting entries into the current directory)
// and its entry points. Layout rules as in abi/PxZip.h.
#include "abi/PxZip.h"

extern "C" {

typedef struct UnzExecParams {
    int32_t Handle;           // 0
    void *CallerObject;       // handed back in every callback record
    int32_t InterfaceVersion; // PX_INTERFACE_VERSION
    PxLibCallback CallbackProc;
    int32_t TraceFlag;
    int32_t Switch05; // never written: 0
    int32_t Switch06;
    int32_t Switch07;
    int32_t Switch08;
    int32_t Switch09;
    int32_t Switch10;
    int32_t VerboseFlag;
    int32_t UpdateFlag;    // extract new files and replace older ones
    int32_t FreshenFlag;   // only replace older existing files
    int32_t DirNamesFlag;  // recreate stored paths, else base names only
    int32_t OverwriteFlag; // replace existing files
    int32_t ArgCount;      // 0: every entry; else FileNames are stored names
    char *ZipFileNamePtr;
    int32_t CheckValue; // PX_CHECK_VALUE
    char *FileNames[PX_MAX_FILE_NAMES];
} UnzExecParams;

typedef int32_t (*PxUnzExecFn)(UnzExecParams *params);
// PxUnzTest takes the same block and reads the entries PxUnzExec would extract,
// decoding and checking each as extraction does, but writes nothing and ignores the
// flags. Every file entry is reported as action 1; each one that fails, by one message
// with a non-zero code naming it. Returns the number of entries that passed.
typedef int32_t (*PxUnzTestFn)(UnzExecParams *params);
typedef int32_t (*GetPxUnzVersionFn)(void);

} // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(UnzExecParams) == 16464);
static_assert(offsetof(UnzExecParams, Handle) == 0);
static_assert(offsetof(UnzExecParams, CallerObject) == 4);
static_assert(offsetof(UnzExecParams, InterfaceVersion) == 8);
static_assert(offsetof(UnzExecParams, CallbackProc) == 12);
static_assert(offsetof(UnzExecParams, TraceFlag) == 16);
static_assert(offsetof(UnzExecParams, Switch05) == 20);
static_assert(offsetof(UnzExecParams, Switch06) == 24);
static_assert(offsetof(UnzExecParams, Switch07) == 28);
static_assert(offsetof(UnzExecParams, Switch08) == 32);
static_assert(offsetof(UnzExecParams, Switch09) == 36);
static_assert(offsetof(UnzExecParams, Switch10) == 40);
static_assert(offsetof(UnzExecParams, VerboseFlag) == 44);
static_assert(offsetof(UnzExecParams, UpdateFlag) == 48);
static_assert(offsetof(UnzExecParams, FreshenFlag) == 52);
static_assert(offsetof(UnzExecParams, DirNamesFlag) == 56);
static_assert(offsetof(UnzExecParams, OverwriteFlag) == 60);
static_assert(offsetof(UnzExecParams, ArgCount) == 64);
static_assert(offsetof(UnzExecParams, ZipFileNamePtr) == 68);
static_assert(offsetof(UnzExecParams, CheckValue) == 72);
static_assert(offsetof(UnzExecParams, FileNames) == 76);
#endif
