// A mutator that knows the inputs are zip packages: most of the time it takes one entry out,
// lets libFuzzer mutate its bytes, and puts the package together again with sound headers
// and checksums, so that mutations reach the XML inside rather than dying at the zip layer.
// The rest of the time it mutates the raw bytes, which reaches the zip reader itself.
#include <zip.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

namespace {

struct Entry {
  std::string name;
  std::string bytes;
};

bool ReadEntries(const uint8_t* data, size_t size, std::vector<Entry>* entries) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
  if (!source) return false;
  zip_t* zip = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (!zip) {
    zip_source_free(source);
    return false;
  }
  bool ok = true;
  const zip_int64_t count = zip_get_num_entries(zip, 0);
  for (zip_int64_t i = 0; ok && i < count && i < 1000; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    const char* name = zip_get_name(zip, index, ZIP_FL_ENC_RAW);
    zip_file_t* file = nullptr;
    ok = name && zip_stat_index(zip, index, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) &&
         st.size <= (1u << 22) && (file = zip_fopen_index(zip, index, 0));
    if (!ok) break;
    Entry entry{name, std::string(st.size, '\0')};
    ok = zip_fread(file, entry.bytes.data(), st.size) == static_cast<zip_int64_t>(st.size);
    zip_fclose(file);
    entries->push_back(std::move(entry));
  }
  zip_discard(zip);
  return ok && !entries->empty();
}

bool WriteEntries(const std::vector<Entry>& entries, bool deflate, std::string* out) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (!buffer) return false;
  zip_source_keep(buffer);
  zip_t* zip = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  bool ok = zip != nullptr;
  for (size_t i = 0; ok && i < entries.size(); ++i) {
    zip_source_t* data = zip_source_buffer(zip, entries[i].bytes.data(), entries[i].bytes.size(), 0);
    const zip_int64_t index =
        data ? zip_file_add(zip, entries[i].name.c_str(), data, ZIP_FL_ENC_RAW) : -1;
    if (index < 0) {
      if (data) zip_source_free(data);
      ok = false;
    } else {
      zip_set_file_compression(zip, static_cast<zip_uint64_t>(index),
                               deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
    }
  }
  if (zip && (!ok || zip_close(zip) != 0)) {
    zip_discard(zip);
    ok = false;
  }
  zip_stat_t st;
  if (ok && zip_source_open(buffer) == 0) {
    ok = zip_source_stat(buffer, &st) == 0;
    if (ok) {
      out->resize(st.size);
      ok = zip_source_read(buffer, out->data(), st.size) == static_cast<zip_int64_t>(st.size);
    }
    zip_source_close(buffer);
  } else {
    ok = false;
  }
  zip_source_free(buffer);
  return ok;
}

// Mutates one entry of the package in `data`; false when `data` is no package this can read.
bool MutateEntry(uint8_t* data, size_t size, size_t max_size, std::minstd_rand& random,
                 std::string* out) {
  std::vector<Entry> entries;
  if (!ReadEntries(data, size, &entries)) return false;
  Entry& entry = entries[random() % entries.size()];
  switch (random() % 16) {
    case 0:  // a name mutated
      entry.name.resize(entry.name.size() + 8);
      entry.name.resize(LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(entry.name.data()),
                                         entry.name.size() - 8, entry.name.size()));
      break;
    case 1:  // an entry left out
      if (entries.size() > 1) entries.erase(entries.begin() + (&entry - entries.data()));
      break;
    default: {
      const size_t room = std::min<size_t>(max_size, entry.bytes.size() * 2 + 64);
      const size_t old_size = entry.bytes.size();
      entry.bytes.resize(std::max(room, old_size));
      entry.bytes.resize(LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(entry.bytes.data()),
                                          old_size, entry.bytes.size()));
    }
  }
  return WriteEntries(entries, random() % 4 == 0, out) && out->size() <= max_size;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int seed) {
  std::minstd_rand random(seed);
  std::string out;
  if (random() % 4 != 0 && MutateEntry(data, size, max_size, random, &out)) {
    std::memcpy(data, out.data(), out.size());
    return out.size();
  }
  return LLVMFuzzerMutate(data, size, max_size);
}
