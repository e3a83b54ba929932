/* The C interface of the LKWord library: text and metadata of documents.
 *
 * A small C99 surface over the reader registry, for C programs and for the
 * bindings of other languages. Strings are UTF-8 in and out. Handles are
 * opaque; every handle the library gives has its free function, and every
 * string a result hands out lives as long as the result. No C++ exception
 * crosses this interface: failures are an lkword_error and a message.
 *
 * Threads: a handle serves one thread at a time; distinct handles may be used
 * on as many threads at once as the caller likes. An options handle that no
 * thread changes may be shared by extractions on several threads.
 *
 * Stability: functions and enumerators are only ever added, never changed or
 * removed; LKWORD_API_VERSION counts the additions. */
#ifndef LKWORD_H
#define LKWORD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LKWORD_API_VERSION 3

/* The library's version, "MAJOR.MINOR.PATCH". */
const char* lkword_version(void);
/* LKWORD_API_VERSION of the library linked, which may be newer than the
 * header a program was built with. */
int lkword_api_version(void);

/* Why an extraction failed. The names of lkword_error_name are those of the
 * tool's JSON "error_kind". */
typedef enum lkword_error {
  LKWORD_OK = 0,
  LKWORD_ERROR_NOT_FOUND = 1,        /* "not_found": no such file */
  LKWORD_ERROR_UNSUPPORTED = 2,      /* "unsupported": no reader takes it, or an encryption none implements */
  LKWORD_ERROR_PASSWORD = 3,         /* "password": encrypted, and no password given opens it */
  LKWORD_ERROR_CORRUPT = 4,          /* "corrupt": the structure of the format is broken */
  LKWORD_ERROR_IO = 5,               /* "io": the file cannot be read */
  LKWORD_ERROR_LIMIT = 6,            /* "limit": a resource limit, or memory, ran out */
  LKWORD_ERROR_TIMEOUT = 7,          /* "timeout": the time limit passed; the text so far is kept */
  LKWORD_ERROR_INVALID_ARGUMENT = 8  /* "invalid_argument": a NULL or out-of-range argument */
} lkword_error;

/* The short name of Error, or NULL for LKWORD_OK and unknown values. */
const char* lkword_error_name(lkword_error Error);

typedef enum lkword_format {
  LKWORD_FORMAT_TEXT = 0,
  LKWORD_FORMAT_RTF = 1,
  LKWORD_FORMAT_HTML = 2,
  LKWORD_FORMAT_MARKDOWN = 3
} lkword_format;

/* What an extraction reads beside the body, all off by default. */
typedef enum lkword_flag {
  LKWORD_FLAG_NOTES = 0,   /* footnotes, endnotes, headers, footers, comments */
  LKWORD_FLAG_MACROS = 1,  /* the VBA macro listing of Word 97-2003 documents */
  LKWORD_FLAG_HIDDEN = 2,  /* hidden text, in the body */
  LKWORD_FLAG_JSON = 3,    /* the tool's JSON line, for lkword_result_json */
  /* Plain text keeps deleted text and marks tracked changes, as RTF and HTML
   * do; off, it reads with the changes accepted. Since API version 2. */
  LKWORD_FLAG_CHANGES = 4
} lkword_flag;

/* Limits; 0 turns the first two off. The others guard against hostile
 * input and have generous defaults. */
typedef enum lkword_limit {
  LKWORD_LIMIT_MAX_TEXT_LENGTH = 0,  /* UTF-16 units of text, each line counting its CR LF */
  LKWORD_LIMIT_TIME_MS = 1,          /* milliseconds per document */
  LKWORD_LIMIT_DECOMPRESSED_SIZE = 2,/* bytes any one part may inflate to */
  LKWORD_LIMIT_STREAM_SIZE = 3,      /* bytes of any one stream read whole */
  LKWORD_LIMIT_NESTING_DEPTH = 4,    /* depth of nested structures */
  LKWORD_LIMIT_XML_NODES = 5         /* elements of one XML document kept whole */
} lkword_limit;

typedef struct lkword_options lkword_options;

/* Default options: plain text, detected reader, no password. NULL when out of
 * memory. */
lkword_options* lkword_options_new(void);
void lkword_options_free(lkword_options* Options);
lkword_error lkword_options_set_format(lkword_options* Options, lkword_format Format);
lkword_error lkword_options_set_flag(lkword_options* Options, lkword_flag Flag, int On);
lkword_error lkword_options_set_limit(lkword_options* Options, lkword_limit Limit, int64_t Value);
/* Adds a password to try, in the order added, after trying none. */
lkword_error lkword_options_add_password(lkword_options* Options, const char* Password);
/* Reads every document with the reader of that name ("doc", "pdf", ...;
 * see lkword_reader_name) instead of detecting it; NULL or "" detects again.
 * LKWORD_ERROR_UNSUPPORTED for a name no reader has. */
lkword_error lkword_options_set_reader(lkword_options* Options, const char* Name);
/* The code page of 8-bit text whose document does not say (PalmDoc books,
 * Write and early Word files): a name ("cp1251", "koi8-r", "iso-8859-2") or
 * a Windows code page number ("1251"); NULL or "" for the default, 1252.
 * LKWORD_ERROR_UNSUPPORTED for an encoding the library cannot decode.
 * Since API version 2. */
lkword_error lkword_options_set_encoding(lkword_options* Options, const char* Encoding);

/* The pages of a PDF to read, numbered from 1, both included; 0 leaves that
 * end open (the default: every page). A first page past the document's end,
 * or a last page before the first, gives no text. Pages outside the range
 * are not read at all; lkword_result_pages still counts every page. Other
 * formats ignore it. LKWORD_ERROR_INVALID_ARGUMENT for a negative number.
 * Since API version 3. */
lkword_error lkword_options_set_page_range(lkword_options* Options, int32_t First, int32_t Last);

typedef struct lkword_result lkword_result;

/* Extracts a document. Options may be NULL for the defaults. The result is
 * never NULL unless memory for it ran out; its error says whether it worked.
 * The data of lkword_extract_memory is not kept after the call. */
lkword_result* lkword_extract_file(const char* Path, const lkword_options* Options);
lkword_result* lkword_extract_memory(const void* Data, size_t Size, const lkword_options* Options);
void lkword_result_free(lkword_result* Result);

lkword_error lkword_result_error(const lkword_result* Result);
/* The library's message for the error; "" without one. */
const char* lkword_result_message(const lkword_result* Result);
/* The name of the reader that read it, or NULL when none was chosen. */
const char* lkword_result_reader(const lkword_result* Result);
/* The text in the chosen format, as the tool writes it: in plain text each
 * line ends with LF; RTF and HTML lines end with CR LF. Never NULL; Length
 * (when not NULL) gets its size in bytes. */
const char* lkword_result_text(const lkword_result* Result, size_t* Length);
/* Pages of a paged format (PDF), or -1. */
int32_t lkword_result_pages(const lkword_result* Result);

typedef enum lkword_value_type {
  LKWORD_VALUE_TEXT = 0,
  LKWORD_VALUE_INTEGER = 1,  /* decimal digits */
  LKWORD_VALUE_DATE = 2      /* ISO 8601 with the UTC offset: 2015-03-07T09:05:00+01:00 */
} lkword_value_type;

/* The metadata fields the document sets, in a fixed order, keyed by the
 * record's names ("Title", "Author", "Created", ...). Index out of range:
 * NULL (and LKWORD_VALUE_TEXT). */
size_t lkword_result_metadata_count(const lkword_result* Result);
const char* lkword_result_metadata_key(const lkword_result* Result, size_t Index);
const char* lkword_result_metadata_value(const lkword_result* Result, size_t Index);
lkword_value_type lkword_result_metadata_type(const lkword_result* Result, size_t Index);

/* Problems the load survived, a repeated one with "(N times)". */
size_t lkword_result_warning_count(const lkword_result* Result);
const char* lkword_result_warning(const lkword_result* Result, size_t Index);

/* With LKWORD_FLAG_NOTES: the document's non-empty secondary texts
 * ("footnotes", "endnotes", "headers", "footers", "comments"), each as plain
 * text lines ending with LF. */
size_t lkword_result_note_count(const lkword_result* Result);
const char* lkword_result_note_name(const lkword_result* Result, size_t Index);
const char* lkword_result_note_text(const lkword_result* Result, size_t Index, size_t* Length);

/* With LKWORD_FLAG_MACROS: the macro listing, "" when there is none. */
const char* lkword_result_macros(const lkword_result* Result, size_t* Length);

/* With LKWORD_FLAG_JSON: the line the tool's --json writes for the document,
 * ending with LF (its "path" is "-" for a document from memory); "" without
 * the flag. Since API version 3 it ends with "page_texts": each PDF page's
 * text, or null. */
const char* lkword_result_json(const lkword_result* Result, size_t* Length);

/* The name of the reader whose content test accepts the document, or NULL
 * (also for a file that cannot be read). The names are static strings. */
const char* lkword_detect_file(const char* Path);
const char* lkword_detect_memory(const void* Data, size_t Size);

/* The readers, most specific content test first; Index out of range: NULL. */
size_t lkword_reader_count(void);
const char* lkword_reader_name(size_t Index);

/* 1 when the document could be read only in part (pages or data lost to
 * damage, a file cut short): the text is what was recovered and the
 * warnings say what was lost. 0 otherwise, also for a failed document. */
int lkword_result_partial(const lkword_result* Result);

#ifdef __cplusplus
}
#endif

#endif /* LKWORD_H */
