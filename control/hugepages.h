#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Where each page fault is dear (seen on a virtual machine: 10 us each), a start that fills a
// window with 100,000 numbers and calls is mostly page faults, one per fresh 4 KiB page of
// its heap. glibc's malloc backs its heap with transparent huge pages when the tunable
// glibc.malloc.hugetlb is 1: a tenth of the faults, for about a megabyte more resident. The
// tunable is read only as a program starts, so:
namespace control::hugepages {

// Where the start reads less than this, the second exec costs more than the pages save (20 ms
// against 8 for 10,000 numbers and calls, on that machine).
inline constexpr off_t kWorthFrom = off_t(2) << 20;

// Executes this program again, once, the same file with the same arguments and environment
// but for the tunable, where the `files` the start reads hold kWorthFrom bytes or more; in the
// program so started, it puts the environment back as it was, so that what that program runs
// starts as it would have. Returns at once where the starter set glibc.malloc.hugetlb itself,
// where the kernel has no transparent huge pages or has them off, or where the exec fails.
void restartWithThem(char **argv, const std::vector<std::string> &files);

} // namespace control::hugepages
