#pragma once

#include <zip.h>

#include <future>
#include <string>
#include <vector>

#include "office/package.h"
#include "office/package_writer.h"

namespace quorvane::office {

/// One part of the package being written, and where its save stands.
struct PackageWriter::Entry {
  std::string name;
  std::string content_type;
  std::string bytes;
  PartProducer producer;                   // a part made whole just before it is stored
  std::function<PartProducer()> streamed;  // a part streamed, produced once more for its size
  // While the package is saved: the bytes produced and not yet stored, and where libzip is.
  std::string pending;
  size_t pending_at = 0;
  bool ready = false;   // `pending` holds the whole part
  bool stored = false;  // written into the archive; only its size is kept
  size_t size = 0;
  PartProducer current;  // a streamed part's producer while libzip reads it
  bool current_done = false;
  std::string failure;
  bool produced() const { return producer || streamed; }
};

/// Hands libzip the produced parts of one save. libzip wants each part's size before its
/// bytes, so that the entry's header needs no 64-bit fields (which some office suites refuse):
/// a produced part is made whole just before it is stored and let go once stored, and while
/// libzip compresses it the next one is made on a second thread. Only one producer runs at a
/// time, and never beside another, so producers need not be thread-safe among themselves.
class ProducedParts {
 public:
  /// `order` lists the produced parts in the order libzip stores them.
  explicit ProducedParts(std::vector<PackageWriter::Entry*> order) : order_(std::move(order)) {}
  ~ProducedParts() { Settle(); }

  /// Answers libzip's `command` for the part `entry`.
  zip_int64_t Call(PackageWriter::Entry& entry, zip_error_t& error, void* data, zip_uint64_t length,
                   zip_source_cmd_t command);

  /// Waits for the part being made on the second thread, if any.
  void Settle();

 private:
  static zip_int64_t Failed(zip_error_t& error);
  bool Ready(PackageWriter::Entry& entry);
  void StartNextAfter(const PackageWriter::Entry& entry);
  zip_int64_t Read(PackageWriter::Entry& entry, zip_error_t& error, char* out,
                   zip_uint64_t length);

  std::vector<PackageWriter::Entry*> order_;
  std::future<bool> ahead_;
  PackageWriter::Entry* ahead_entry_ = nullptr;
};

/// What libzip's callback for one produced part is given.
struct ProducerState {
  ProducedParts* parts;
  PackageWriter::Entry* entry;
  std::string* thrown;  // what the first exception caught said
  zip_error_t error;
};

/// A producer that throws (out of memory, say) fails the save like one that reports failure.
zip_int64_t ProducerCallback(void* state, void* data, zip_uint64_t length,
                             zip_source_cmd_t command);

/// What an exception caught at a C callback says, for the message of the failed save.
std::string Thrown();

}  // namespace quorvane::office
