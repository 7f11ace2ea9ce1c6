// The page reader's decoder on arbitrary responses, fed in arbitrary chunkings.
//
// Input: byte 0 gives the number of cut sizes (0 to 7), the next bytes the sizes themselves
// (1 to 256, used in turn), the rest is the response. Checked:
// - decodeChunk over those chunks agrees with a model written from the description's words;
// - fed in pieces of those sizes, the decoder gives exactly what decodeChunk gives on the
//   response cut into 50-byte chunks: the values depend on the bytes alone;
// - at most ten values, each 0 to 272 (the seven characters between '9' and 'A' count as 10 to
//   16), and room() always 1 to 50.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "JPageReaderObj.h"
#include "FuzzSupport.h"

namespace {
// The description, read literally, on std::string chunks.
struct Model {
  bool bodyFound = false;
  size_t matched = 0;
  bool pending = false;
  int high = 0;
  std::vector<int> values;  // every pair decoded, beyond the tenth too
  int count() const { return values.size() > 10 ? 10 : static_cast<int>(values.size()); }

  static int digit(char c) {
    const std::string digits = "0123456789:;<=>?@";
    const size_t at = digits.find(c);
    if (at != std::string::npos) return static_cast<int>(at);
    if (c >= 'A' && c <= 'F') return 10 + (c - 'A');
    return -1;
  }
  void chunk(const std::string& c) {
    size_t from = 0;
    if (!bodyFound) {
      const std::string marker = "<body";
      for (; from < c.size() && !bodyFound; ++from) {
        matched = c[from] == marker[matched] ? matched + 1 : 0;
        bodyFound = matched == marker.size();
      }
      if (!bodyFound) return;
    }
    const size_t aa = c.find("aa", from);
    if (aa == std::string::npos) return;
    for (size_t p = aa + 2; p + 2 < c.size(); ++p) {
      if (c.compare(p, 2, "FF") != 0) continue;
      for (size_t q = p + 2; q < c.size(); ++q) {
        const int d = digit(c[q]);
        if (d < 0) continue;
        if (!pending) {
          high = d * 16;
        } else {
          values.push_back(high + d);
        }
        pending = !pending;
        if (values.size() > 7) break;
      }
    }
  }
};

std::vector<int> valuesOf(const PageDecoder& d) { return std::vector<int>(d.values, d.values + d.count()); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t cuts = data[0] % 8;
  if (size < 1 + cuts) return 0;
  std::vector<int> sizes;
  for (size_t i = 0; i < cuts; ++i) sizes.push_back(1 + data[1 + i]);
  if (sizes.empty()) sizes.push_back(50);
  const uint8_t* page = data + 1 + cuts;
  const int n = static_cast<int>(size - 1 - cuts);

  // Arbitrary chunks, against the model.
  PageDecoder chunked;
  chunked.reset();
  Model model;
  for (int at = 0, k = 0; at < n; ++k) {
    const int len = std::min(sizes[k % sizes.size()], n - at);
    chunked.decodeChunk(page + at, len);
    model.chunk(std::string(reinterpret_cast<const char*>(page + at), static_cast<size_t>(len)));
    at += len;
  }
  check(chunked.count() == model.count(), "count differs from the model");
  for (int i = 0; i < model.count(); ++i)
    check(chunked.values[i] == model.values[static_cast<size_t>(i)], "value differs from the model");
  check(chunked.bodyFound == model.bodyFound, "marker differs from the model");
  check(chunked.highNibblePending == model.pending, "pending digit differs from the model");

  // Fed in pieces, against 50-byte chunks.
  PageDecoder fifty;
  fifty.reset();
  for (int at = 0; at < n; at += PageDecoder::kChunkBytes)
    fifty.decodeChunk(page + at, std::min(PageDecoder::kChunkBytes, n - at));
  PageDecoder fed;
  fed.reset();
  for (int at = 0, k = 0; at < n; ++k) {
    const int len = std::min(sizes[k % sizes.size()], n - at);
    fed.feed(page + at, len);
    check(fed.room() >= 1 && fed.room() <= PageDecoder::kChunkBytes, "room out of bounds");
    at += len;
  }
  fed.finish();
  check(valuesOf(fed) == valuesOf(fifty), "pieces gave other values than 50-byte chunks");

  for (const PageDecoder* d : {&chunked, &fed}) {
    check(d->count() >= 0 && d->count() <= PageDecoder::kMaxValues, "too many values");
    for (int i = 0; i < d->count(); ++i) check(d->values[i] >= 0 && d->values[i] <= 16 * 16 + 16, "value out of range");
  }
  return 0;
}
