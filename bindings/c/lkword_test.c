/* The C interface as a C program uses it: results, options and every
 * failure kind, with each handle freed (the sanitizer build checks leaks).
 *
 * usage: lkword_test TESTDATA */
#include "bindings/c/lkword.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int passed, failed;
static const char* testdata;

#define CHECK(cond)                                                 \
  do {                                                              \
    if (cond) {                                                     \
      ++passed;                                                     \
    } else {                                                        \
      ++failed;                                                     \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                               \
  } while (0)

static char* path_of(const char* name) {
  static char buf[4096];
  snprintf(buf, sizeof buf, "%s/%s", testdata, name);
  return buf;
}

static char* read_all(const char* name, size_t* size) {
  FILE* f = fopen(path_of(name), "rb");
  char* data;
  long n;
  if (!f) return NULL;
  fseek(f, 0, SEEK_END);
  n = ftell(f);
  fseek(f, 0, SEEK_SET);
  data = malloc((size_t)n + 1);
  if (data && fread(data, 1, (size_t)n, f) != (size_t)n) {
    free(data);
    data = NULL;
  }
  fclose(f);
  *size = (size_t)n;
  return data;
}

static const char* metadata(const lkword_result* r, const char* key, lkword_value_type* type) {
  size_t i;
  for (i = 0; i < lkword_result_metadata_count(r); ++i)
    if (strcmp(lkword_result_metadata_key(r, i), key) == 0) {
      if (type) *type = lkword_result_metadata_type(r, i);
      return lkword_result_metadata_value(r, i);
    }
  return NULL;
}

static void test_file_and_memory_agree(void) {
  size_t size = 0, n1 = 0, n2 = 0;
  char* data = read_all("samples/keeper.docx", &size);
  lkword_result* a = lkword_extract_file(path_of("samples/keeper.docx"), NULL);
  lkword_result* b = lkword_extract_memory(data, size, NULL);
  lkword_value_type type = LKWORD_VALUE_TEXT;
  const char* t1 = lkword_result_text(a, &n1);
  const char* t2 = lkword_result_text(b, &n2);
  CHECK(data != NULL);
  CHECK(lkword_result_error(a) == LKWORD_OK && lkword_result_error(b) == LKWORD_OK);
  CHECK(strcmp(lkword_result_reader(a), "docx") == 0);
  CHECK(strncmp(t1, "The Lighthouse Keeper\xE2\x80\x99s Log\n", 29) == 0);
  CHECK(n1 == n2 && memcmp(t1, t2, n1) == 0 && strlen(t1) == n1);
  CHECK(strcmp(metadata(a, "Author", &type), "Mara Quill") == 0 && type == LKWORD_VALUE_TEXT);
  CHECK(strcmp(metadata(a, "WordCount", &type), "83") == 0 && type == LKWORD_VALUE_INTEGER);
  CHECK(strncmp(metadata(a, "Created", &type), "2021-03-14T00:00:00", 19) == 0 && type == LKWORD_VALUE_DATE);
  CHECK(lkword_result_pages(a) == -1 && lkword_result_note_count(a) == 0);
  CHECK(strcmp(lkword_result_json(a, NULL), "") == 0 && strcmp(lkword_result_message(a), "") == 0);
  CHECK(lkword_result_metadata_key(a, 1000) == NULL);
  lkword_result_free(a);
  lkword_result_free(b);
  free(data);
}

static void test_options(void) {
  lkword_options* o = lkword_options_new();
  lkword_result* r;
  size_t n = 0;
  const char* json;
  CHECK(lkword_options_set_flag(o, LKWORD_FLAG_NOTES, 1) == LKWORD_OK);
  CHECK(lkword_options_set_flag(o, LKWORD_FLAG_JSON, 1) == LKWORD_OK);
  CHECK(lkword_options_set_format(o, LKWORD_FORMAT_HTML) == LKWORD_OK);
  CHECK(lkword_options_set_format(o, (lkword_format)42) == LKWORD_ERROR_INVALID_ARGUMENT);
  CHECK(lkword_options_set_limit(o, LKWORD_LIMIT_MAX_TEXT_LENGTH, -1) == LKWORD_ERROR_INVALID_ARGUMENT);
  CHECK(lkword_options_set_reader(o, "no-such-reader") == LKWORD_ERROR_UNSUPPORTED);
  CHECK(lkword_options_set_encoding(o, "klingon") == LKWORD_ERROR_UNSUPPORTED);
  CHECK(lkword_options_set_encoding(o, "koi8-r") == LKWORD_OK && lkword_options_set_encoding(o, "866") == LKWORD_OK);
  CHECK(lkword_options_set_encoding(o, NULL) == LKWORD_OK && lkword_options_set_encoding(NULL, "cp1251") == LKWORD_ERROR_INVALID_ARGUMENT);
  r = lkword_extract_file(path_of("samples/keeper.docx"), o);
  CHECK(lkword_result_error(r) == LKWORD_OK);
  /* The HTML header names the encoding the text really has. */
  CHECK(strstr(lkword_result_text(r, NULL), "charset=utf-8") != NULL);
  CHECK(lkword_result_note_count(r) == 1 && strcmp(lkword_result_note_name(r, 0), "footnotes") == 0);
  /* Notes come in the chosen format too. */
  CHECK(strstr(lkword_result_note_text(r, 0, &n), "barometer") && n > 15);
  json = lkword_result_json(r, &n);
  CHECK(strncmp(json, "{\"path\":", 8) == 0 && json[n - 1] == '\n' && strstr(json, "\"format\":\"html\""));
  lkword_result_free(r);

  /* A cut text says so; the plain text is as short as asked. */
  CHECK(lkword_options_set_format(o, LKWORD_FORMAT_TEXT) == LKWORD_OK);
  CHECK(lkword_options_set_limit(o, LKWORD_LIMIT_MAX_TEXT_LENGTH, 20) == LKWORD_OK);
  r = lkword_extract_file(path_of("samples/keeper.docx"), o);
  lkword_result_text(r, &n);
  CHECK(lkword_result_error(r) == LKWORD_OK && n <= 40);
  CHECK(lkword_result_warning_count(r) >= 1 && strstr(lkword_result_warning(r, 0), "maximum text length"));
  lkword_result_free(r);

  /* A forced reader reads what detection would refuse to guess. */
  CHECK(lkword_options_set_limit(o, LKWORD_LIMIT_MAX_TEXT_LENGTH, 0) == LKWORD_OK);
  CHECK(lkword_options_set_reader(o, "pdf") == LKWORD_OK);
  r = lkword_extract_file(path_of("samples/keeper.docx"), o);
  CHECK(lkword_result_error(r) != LKWORD_OK && strcmp(lkword_result_reader(r), "pdf") == 0);
  CHECK(strstr(lkword_result_json(r, NULL), "\"error_kind\":\"") != NULL);
  lkword_result_free(r);

  /* A resource limit too small for the document stops it. */
  CHECK(lkword_options_set_reader(o, NULL) == LKWORD_OK);
  CHECK(lkword_options_set_limit(o, LKWORD_LIMIT_DECOMPRESSED_SIZE, 100) == LKWORD_OK);
  r = lkword_extract_file(path_of("samples/keeper.docx"), o);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_LIMIT && *lkword_result_message(r) != 0);
  lkword_result_free(r);
  lkword_options_free(o);
}

/* Only the range's pages are read; the count and the JSON's pages stay whole. */
static void test_page_range(void) {
  lkword_options* o = lkword_options_new();
  lkword_result* r;
  const char* text;
  CHECK(lkword_options_set_page_range(o, -1, 0) == LKWORD_ERROR_INVALID_ARGUMENT);
  CHECK(lkword_options_set_page_range(NULL, 1, 1) == LKWORD_ERROR_INVALID_ARGUMENT);
  CHECK(lkword_options_set_page_range(o, 2, 2) == LKWORD_OK);
  CHECK(lkword_options_set_flag(o, LKWORD_FLAG_JSON, 1) == LKWORD_OK);
  r = lkword_extract_file(path_of("pdf/pages.pdf"), o);
  text = lkword_result_text(r, NULL);
  CHECK(lkword_result_error(r) == LKWORD_OK && lkword_result_pages(r) == 4);
  CHECK(strstr(text, "Two") != NULL && strstr(text, "One") == NULL && strstr(text, "Four") == NULL);
  CHECK(strstr(lkword_result_json(r, NULL), "\"pages\":4,") != NULL);
  CHECK(strstr(lkword_result_json(r, NULL), "\"page_texts\":[\"Two\\n\"]}\n") != NULL);
  lkword_result_free(r);
  lkword_options_free(o);
}

static void test_passwords(void) {
  lkword_options* o = lkword_options_new();
  lkword_result* r = lkword_extract_file(path_of("doc/encrypted-rc4.doc"), o);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_PASSWORD && *lkword_result_message(r) != 0);
  CHECK(strcmp(lkword_error_name(lkword_result_error(r)), "password") == 0);
  lkword_result_free(r);
  lkword_options_add_password(o, "wrong");
  r = lkword_extract_file(path_of("doc/encrypted-rc4.doc"), o);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_PASSWORD);
  lkword_result_free(r);
  /* Each password is tried in turn, the right one last. */
  lkword_options_add_password(o, "P\xC3\xA4sswo\xCC\x88rd 1");
  lkword_options_add_password(o, "P\xC3\xA4ssw\xC3\xB6rd 1");
  r = lkword_extract_file(path_of("doc/encrypted-rc4.doc"), o);
  CHECK(lkword_result_error(r) == LKWORD_OK && lkword_result_text(r, NULL)[0] != 0);
  lkword_result_free(r);
  lkword_options_free(o);
}

static void test_failures(void) {
  static const char garbage[] = "\x01\x02 this is no document at all \xFF\xFE";
  size_t size = 0;
  char* data = read_all("samples/keeper.docx", &size);
  lkword_result* r;

  r = lkword_extract_file(path_of("no/such/file.doc"), NULL);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_NOT_FOUND && strstr(lkword_result_message(r), "is not found"));
  CHECK(lkword_result_reader(r) == NULL && strcmp(lkword_result_text(r, NULL), "") == 0);
  lkword_result_free(r);

  r = lkword_extract_memory(garbage, sizeof garbage - 1, NULL);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_UNSUPPORTED);
  lkword_result_free(r);

  /* Cut inside the main part. */
  r = lkword_extract_memory(data, size < 1000 ? size / 2 : 1000, NULL);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_CORRUPT && *lkword_result_message(r) != 0);
  lkword_result_free(r);

  r = lkword_extract_memory(NULL, 0, NULL);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_CORRUPT);
  lkword_result_free(r);

  r = lkword_extract_file(testdata, NULL);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_IO);
  lkword_result_free(r);

  r = lkword_extract_file(NULL, NULL);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_INVALID_ARGUMENT);
  lkword_result_free(r);
  r = lkword_extract_memory(NULL, 10, NULL);
  CHECK(lkword_result_error(r) == LKWORD_ERROR_INVALID_ARGUMENT);
  lkword_result_free(r);

  /* A null handle is refused, not followed. */
  CHECK(lkword_result_error(NULL) == LKWORD_ERROR_INVALID_ARGUMENT);
  CHECK(lkword_options_set_flag(NULL, LKWORD_FLAG_NOTES, 1) == LKWORD_ERROR_INVALID_ARGUMENT);
  lkword_result_free(NULL);
  lkword_options_free(NULL);
  free(data);
}

static void test_detection_and_readers(void) {
  size_t i, size = 0;
  char* data = read_all("samples/hello.pdf", &size);
  int found_pdf = 0;
  CHECK(strcmp(lkword_detect_file(path_of("samples/lighthouse.pdb")), "pdb") == 0);
  CHECK(strcmp(lkword_detect_memory(data, size), "pdf") == 0);
  CHECK(lkword_detect_memory("nothing", 7) == NULL);
  CHECK(lkword_detect_file(path_of("no/such/file")) == NULL);
  for (i = 0; i < lkword_reader_count(); ++i) found_pdf |= strcmp(lkword_reader_name(i), "pdf") == 0;
  CHECK(found_pdf && lkword_reader_name(lkword_reader_count()) == NULL);
  CHECK(lkword_api_version() >= LKWORD_API_VERSION && strchr(lkword_version(), '.') != NULL);
  free(data);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: lkword_test TESTDATA\n");
    return 2;
  }
  testdata = argv[1];
  test_file_and_memory_agree();
  test_options();
  test_page_range();
  test_passwords();
  test_failures();
  test_detection_and_readers();
  printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
