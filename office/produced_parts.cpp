#include "office/produced_parts.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quorvane::office {
namespace {

// Runs a part's producer to its end, into `entry.pending`.
bool ProduceWhole(PackageWriter::Entry& entry) {
  entry.pending.clear();
  std::string piece;
  for (bool done = false; !done;) {
    piece.clear();
    if (!entry.producer(&piece, &done, &entry.failure)) return false;
    entry.pending += piece;
  }
  entry.ready = true;
  return true;
}

// Runs a fresh producer of a streamed part to its end, keeping only the count of its bytes.
bool MeasureStreamed(PackageWriter::Entry& entry) {
  PartProducer producer = entry.streamed();
  std::string piece;
  entry.size = 0;
  for (bool done = false; !done;) {
    piece.clear();
    if (!producer(&piece, &done, &entry.failure)) return false;
    entry.size += piece.size();
  }
  entry.ready = true;
  return true;
}

}  // namespace

zip_int64_t ProducedParts::Call(PackageWriter::Entry& entry, zip_error_t& error, void* data,
                                zip_uint64_t length, zip_source_cmd_t command) {
  switch (command) {
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                            -1);
    case ZIP_SOURCE_STAT: {
      // libzip asks once more after storing the part: the size is kept.
      if (!entry.stored && !Ready(entry)) return Failed(error);
      auto* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error);
      if (!stat) return -1;
      zip_stat_init(stat);
      stat->size = entry.size;
      stat->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_OPEN:
      if (!Ready(entry)) return Failed(error);
      entry.pending_at = 0;
      if (entry.streamed) {
        entry.pending.clear();
        entry.current = entry.streamed();
        entry.current_done = false;
      }
      return 0;
    case ZIP_SOURCE_READ:
      return Read(entry, error, static_cast<char*>(data), length);
    case ZIP_SOURCE_CLOSE:
      entry.stored = true;
      entry.ready = false;
      entry.current = nullptr;
      std::string().swap(entry.pending);
      return 0;
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&error, data, length);
    case ZIP_SOURCE_FREE:
      return 0;
    default:
      zip_error_set(&error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

void ProducedParts::Settle() {
  if (ahead_.valid()) ahead_.wait();
}

zip_int64_t ProducedParts::Failed(zip_error_t& error) {
  zip_error_set(&error, ZIP_ER_READ, 0);
  return -1;
}

// Makes `entry` ready (waiting for it when it is being made ahead), then starts the next
// part that is made whole.
bool ProducedParts::Ready(PackageWriter::Entry& entry) {
  bool made;
  if (ahead_entry_ == &entry) {  // its fields are the other thread's until then
    made = ahead_.get();
    ahead_entry_ = nullptr;
  } else if (entry.ready) {
    return true;
  } else {
    Settle();
    made = entry.streamed ? MeasureStreamed(entry) : ProduceWhole(entry);
  }
  if (!made) return false;
  // A streamed part is produced while libzip reads it, so nothing is made beside it.
  if (!entry.streamed) {
    entry.size = entry.pending.size();
    StartNextAfter(entry);
  }
  return true;
}

void ProducedParts::StartNextAfter(const PackageWriter::Entry& entry) {
  if (ahead_.valid()) return;
  auto it = std::find(order_.begin(), order_.end(), &entry);
  for (it = it == order_.end() ? it : it + 1; it != order_.end(); ++it) {
    PackageWriter::Entry* next = *it;
    if (next->ready || next->stored || next->streamed) continue;
    ahead_entry_ = next;
    ahead_ = std::async(std::launch::async, [next] { return ProduceWhole(*next); });
    return;
  }
}

zip_int64_t ProducedParts::Read(PackageWriter::Entry& entry, zip_error_t& error, char* out,
                                zip_uint64_t length) {
  zip_uint64_t given = 0;
  while (given < length) {
    if (entry.pending_at == entry.pending.size()) {
      if (!entry.streamed || entry.current_done) break;
      entry.pending.clear();
      entry.pending_at = 0;
      if (!entry.current(&entry.pending, &entry.current_done, &entry.failure))
        return Failed(error);
      continue;
    }
    const size_t take = std::min<size_t>(length - given, entry.pending.size() - entry.pending_at);
    std::memcpy(out + given, entry.pending.data() + entry.pending_at, take);
    entry.pending_at += take;
    given += take;
  }
  return static_cast<zip_int64_t>(given);
}

zip_int64_t ProducerCallback(void* state, void* data, zip_uint64_t length,
                             zip_source_cmd_t command) {
  auto& producer = *static_cast<ProducerState*>(state);
  try {
    return producer.parts->Call(*producer.entry, producer.error, data, length, command);
  } catch (...) {
    try {
      if (producer.thrown->empty()) *producer.thrown = Thrown();
    } catch (...) {
    }
    zip_error_set(&producer.error, ZIP_ER_READ, 0);
    return -1;
  }
}

std::string Thrown() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "内存不足";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "未知错误";
  }
}

}  // namespace quorvane::office
