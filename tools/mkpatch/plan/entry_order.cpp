#include "mkpatch/plan/entry_order.h"

#include <functional>
#include <queue>

std::vector<size_t> ReadersFirst(size_t count, const std::vector<ReadsBefore>& reads,
                                 std::vector<ReadsBefore>* dropped) {
  std::vector<size_t> waiting(count, 0);  // readers not yet placed, per writer
  std::vector<std::vector<size_t>> readingsOf(count);
  std::vector<std::vector<size_t>> writersOf(count);
  for (size_t i = 0; i < reads.size(); ++i) {
    const ReadsBefore& read = reads[i];
    if (read.reader == read.writer) continue;  // a file's own bytes are read by its own way
    ++waiting[read.writer];
    readingsOf[read.writer].push_back(i);
    writersOf[read.reader].push_back(read.writer);
  }
  std::priority_queue<size_t, std::vector<size_t>, std::greater<size_t>> ready;
  for (size_t i = 0; i < count; ++i) {
    if (waiting[i] == 0) ready.push(i);
  }
  std::vector<bool> placed(count, false);
  std::vector<size_t> order;
  order.reserve(count);
  while (order.size() < count) {
    if (ready.empty()) {
      // A circle: the first file left waits for nobody any more.
      size_t first = 0;
      while (placed[first]) ++first;
      for (size_t i : readingsOf[first]) {
        if (!placed[reads[i].reader]) dropped->push_back(reads[i]);
      }
      waiting[first] = 0;
      ready.push(first);
    }
    const size_t next = ready.top();
    ready.pop();
    if (placed[next]) continue;
    placed[next] = true;
    order.push_back(next);
    for (size_t writer : writersOf[next]) {
      if (!placed[writer] && waiting[writer] > 0 && --waiting[writer] == 0) ready.push(writer);
    }
  }
  return order;
}
