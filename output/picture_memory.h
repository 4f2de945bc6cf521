#pragma once
// How pictures take memory in the front ends.

// Sets the process's memory budget (MemoryBudget, Picture::SetMaxBytes) from the memory the
// system has: physical memory, a cgroup's limit and the address-space limit; large requests
// are also checked against the memory available at the time. Where the system offers them, big
// pictures use memory backed by huge pages. Front ends call this once at start, before the
// first picture is made.
void ConfigurePictureMemoryLimit();
