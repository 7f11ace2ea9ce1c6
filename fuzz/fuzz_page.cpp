// The page reader's decoder and response head on arbitrary responses, fed in arbitrary pieces.
//
// Input: byte 0 gives the number of cut sizes (0 to 7), the next bytes the sizes themselves
// (1 to 256, used in turn), the rest is the response. Checked:
// - decodeChunk over the whole response agrees with a model written from the description's words;
// - fed in pieces of those sizes, the decoder gives exactly what decodeChunk gives on the whole
//   response as one piece: the values depend on the bytes alone;
// - at most ten values, each 0 to 272 (the seven characters between '9' and 'A' count as 10 to
//   16);
// - the response head, fed in the same pieces, takes no more than it is given, completes within
//   its bound, and its failure line is printable.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "JPageReaderObj.h"
#include "FuzzSupport.h"

namespace {
// The description, read literally, on one std::string piece.
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
  void piece(const std::string& c) {
    size_t from = 0;
    const std::string marker = "<body";
    for (; from < c.size() && !bodyFound; ++from) {
      matched = c[from] == marker[matched] ? matched + 1 : 0;
      bodyFound = matched == marker.size();
    }
    if (!bodyFound) return;
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
  std::vector<size_t> sizes;
  for (size_t i = 0; i < cuts; ++i) sizes.push_back(1 + data[1 + i]);
  if (sizes.empty()) sizes.push_back(50);
  const uint8_t* page = data + 1 + cuts;
  const size_t n = size - 1 - cuts;

  // The whole response as one piece, against the model.
  PageDecoder whole;
  whole.reset();
  whole.decodeChunk(page, static_cast<int>(n));
  Model model;
  model.piece(std::string(reinterpret_cast<const char*>(page), n));
  check(whole.count() == model.count(), "count differs from the model");
  for (int i = 0; i < model.count(); ++i)
    check(whole.values[i] == model.values[static_cast<size_t>(i)], "value differs from the model");

  // Fed in pieces, against the whole.
  PageDecoder fed;
  fed.reset();
  ResponseHead head;
  head.reset();
  for (size_t at = 0, k = 0; at < n; ++k) {
    const size_t len = std::min(sizes[k % sizes.size()], n - at);
    fed.feed(page + at, len);
    const size_t taken = head.take(page + at, len);
    check(taken <= len, "the head took more than it was given");
    at += len;
  }
  fed.finish();
  check(valuesOf(fed) == valuesOf(whole), "pieces gave other values than the whole response");
  check(head.complete() || n < ResponseHead::kMaxHead, "the head grew past its bound");
  for (char c : head.failureLine()) check(c >= 0x20 && c < 0x7f, "unprintable failure line");

  check(fed.count() >= 0 && fed.count() <= PageDecoder::kMaxValues, "too many values");
  for (int i = 0; i < fed.count(); ++i) check(fed.values[i] >= 0 && fed.values[i] <= 16 * 16 + 16, "value out of range");
  return 0;
}
