// The temporary files of saves still under way, kept in one list for the
// whole process, so that a program stopped with Ctrl+C, by kill or by a
// closed terminal leaves none of them behind.
#pragma once

#include <mutex>
#include <string>

// From this call on, SIGINT, SIGTERM and SIGHUP remove every temporary file
// still registered and then end the process as the signal itself would have
// (a shell sees 130 for SIGINT, 143 for SIGTERM). Files already put in place
// stay. A signal that is ignored when this is called, as nohup ignores
// SIGHUP, stays ignored. Call it once at the top of main, before any other
// thread is started; later calls do nothing. It starts one thread of its own
// that waits for the signals, and blocks no signal anywhere, so child
// processes start with the signal mask they would have had without it.
void removeTemporaryFilesOnSignals();

// The registry's lock. The clean-up takes it too and ends the process while
// still holding it, so a file made under it is either registered before the
// clean-up starts or never made at all, and a file renamed into place under
// it is never removed as a temporary one.
using TemporaryFilesLock = std::unique_lock<std::mutex>;
TemporaryFilesLock lockTemporaryFiles();

// Adds or removes a path, which stays valid as given (relative paths are
// taken against the working folder at the time of the clean-up). held is the
// lock from lockTemporaryFiles; it must be the one currently held.
void registerTemporaryFile(const TemporaryFilesLock& held, const std::string& path);
void unregisterTemporaryFile(const TemporaryFilesLock& held, const std::string& path);
