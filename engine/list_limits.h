// What a client reads of a list file. The reader (list_file.cc) drops
// anything beyond these; the publisher's tool (list_writer.cc) refuses to
// write it, so the two cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>

// A line is read in pieces of at most this many bytes; each piece is a record.
constexpr size_t kMaxListPieceBytes = 1022;
// Longest field; a record with a longer one is skipped.
constexpr size_t kMaxListFieldBytes = 511;
// Bounds on what one list may hold, to keep the client's memory in check:
// 16 MiB is some 200,000 records of the usual length.
constexpr uint64_t kMaxListFileBytes = 16ULL * 1024 * 1024;
constexpr size_t kMaxListRecords = 1000000;
