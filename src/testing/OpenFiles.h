#pragma once

// The open-files limit: every proxy tested at once holds a socket, so a run of many parallel
// tests needs more descriptors than the usual soft limit of 1024.
namespace OpenFiles {

// Raises the soft limit on open files to the hard limit; never lowers it. Run once at start.
void raiseSoftLimit();
// How many more descriptors may be opened now, keeping reserve of them for files, pipes and the
// display connection: the soft limit less those open less reserve, at least 0.
int socketsAvailable(int reserve = 64);

} // namespace OpenFiles
