// Resuming a transfer: which validator makes it safe, and what an answer to
// a request for the rest means for the bytes already kept.
#pragma once

// The validator that lets bytes be asked for again with If-Range: an ETag
// not marked weak (W/), else a Last-Modified date. Empty when neither
// (the bytes can then never be resumed). 1 when there is one.
int StrongValidator(const char* etag, const char* lastModified, char* out, unsigned long capacity);

struct ContentRange {
  unsigned long first, last, total;  // "bytes first-last/total"
};
// 1 when `text` is a whole, satisfied byte range with a known total.
int ParseContentRange(const char* text, ContentRange* range);

enum Splice {
  kSpliceAppend,     // 206 at the bytes kept, same total: write after them
  kSpliceStartOver,  // 200: the whole file comes (changed, or ranges not served)
  kSpliceDiscard,    // 416, another offset or another total: drop the bytes, ask for the whole once
  kSpliceRetry,      // no usable answer (an error status): keep the bytes, ask again later
};

// What to do with `kept` bytes of a file of `total` bytes, asked for with
// Range: bytes=kept- and If-Range, given the answer's status and its
// Content-Range (null when it had none or it did not parse).
Splice DecideSplice(unsigned long kept, unsigned long total, int status, const ContentRange* range);
