#pragma once
// The record a compression library hands to the component's callback, and the callback
// itself. Shared, as a C ABI, by the component and the libraries libpxzip.so and
// libpxunz.so. Scalars are int32_t, pointers pointer-sized: on a 32-bit build every
// offset is the one the libraries were first written against (checked below).
#include <cstddef>
#include <cstdint>

extern "C" {

// Capacity of Text, NUL included: a full Linux path plus a line of message.
#define PX_CALLBACK_TEXT_SIZE 4352

// Flags in the blocks hold 0 for false and -1 (all bits set) for true.
#define PX_TRUE (-1)
#define PX_FALSE 0

// What a report is about.
enum {
    PX_ACTION_FILE = 1,          // a file starts: Text is its name, FileSize its size
    PX_ACTION_STEP = 2,          // a step of work, see below
    PX_ACTION_END = 3,           // the operation has ended
    PX_ACTION_MESSAGE = 4,       // a warning (ErrorCode 0) or an error (ErrorCode != 0) in Text
    PX_ACTION_PASSWORD = 5,      // the library needs a password, see below
    PX_ACTION_NAME_ENCODING = 6, // which code page legacy names are in, see below
};

// PX_ACTION_NAME_ENCODING is sent once per call, before the archive is read, with Text
// empty and FileSize 0. Names stored without the UTF-8 flag (and without a Unicode
// Path field that matches) are in a legacy code page. The caller may name it: it
// writes an iconv name ("CP866"), NUL-terminated, into Text and sets FileSize to
// PX_ENCODING_GIVEN. Left alone (the caller's "automatic", and every caller that does
// not know the request), the library chooses as the component's listing does: from the
// user's language and the names themselves.
#define PX_ENCODING_GIVEN 1

// A password through PX_ACTION_PASSWORD. ErrorCode says what for:
//   PX_PASSWORD_FIRST  reading: the call's first encrypted entry, named in Text;
//   PX_PASSWORD_AGAIN  reading: no password given so far opens the entry named in Text;
//   PX_PASSWORD_NEW    adding: the password for the entries to be encrypted (Text empty).
// FileSize is PX_PASSWORD_UNANSWERED on the way in. The caller answers by writing the
// password, NUL-terminated, into Text and setting FileSize to PX_PASSWORD_GIVEN, or
// declines by setting it to PX_PASSWORD_DECLINED: reading, the encrypted entries are
// then skipped (once asked again, that entry fails); adding, nothing is added. A caller
// that does not know the request leaves FileSize alone: reading, every encrypted entry
// is refused as "encrypted"; adding, nothing is added. Answering PX_TRUE stops the
// work, as with any report. The library wipes Text as soon as it has taken the
// password, keeps passwords no longer than the call, and never puts one in a message.
// A reading library asks once and tries what it was given on every encrypted entry;
// it asks again only for an entry that none of the passwords given so far opens.
enum {
    PX_PASSWORD_FIRST = 0,
    PX_PASSWORD_AGAIN = 1,
    PX_PASSWORD_NEW = 2,
};
enum {
    PX_PASSWORD_UNANSWERED = 0,
    PX_PASSWORD_GIVEN = 1,
    PX_PASSWORD_DECLINED = 2,
};

// Progress through PX_ACTION_STEP. FileSize holds the bytes done since the previous
// step (0 for a step that only gives the caller a chance to answer). What counts as
// a byte done: adding, a byte read from a file being added or copied from the
// entries that stay in the archive; deleting, a byte copied from the entries that
// stay; extracting, a byte written to an extracted file. Text is empty, except in the
// one step that announces the bytes the call will do, as a decimal number (a count
// beyond what the 32-bit FileSize holds); it is sent before the bytes are done, once
// the library knows the count. A library sends a step at least every 128 KiB of bytes
// done and during long phases that do none (walking a large tree, many small files),
// so that the caller can keep its window answering and stop the work within one file.
// Added up, the steps reach the announced count when all the work was done (copies
// go a few bytes past it: the local headers are read on the way); skipped files and
// cancelled work leave them short.

typedef struct LibCallbackInfo {
    int32_t Handle;                   // not read by the component
    void *CallerObject;               // the CallerObject of the block of the running call
    int32_t Reserved1;                // not read by the component
    int32_t Reserved2;                // not read by the component
    int32_t ActionCode;               // PX_ACTION_*
    int32_t ErrorCode;                // with PX_ACTION_MESSAGE: 0 for a warning
    int32_t FileSize;                 // with PX_ACTION_FILE; PX_ACTION_PASSWORD's answer
    char Text[PX_CALLBACK_TEXT_SIZE]; // NUL-terminated, stored in the record itself
} LibCallbackInfo;

// The answer is a 32-bit boolean: PX_TRUE asks the library to stop.
typedef int32_t (*PxLibCallback)(LibCallbackInfo *info);

} // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(LibCallbackInfo, Handle) == 0);
static_assert(offsetof(LibCallbackInfo, CallerObject) == 4);
static_assert(offsetof(LibCallbackInfo, Reserved1) == 8);
static_assert(offsetof(LibCallbackInfo, Reserved2) == 12);
static_assert(offsetof(LibCallbackInfo, ActionCode) == 16);
static_assert(offsetof(LibCallbackInfo, ErrorCode) == 20);
static_assert(offsetof(LibCallbackInfo, FileSize) == 24);
static_assert(offsetof(LibCallbackInfo, Text) == 28);
#endif
