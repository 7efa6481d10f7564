#pragma once
// A replacement of the global allocator (linked into the JACK test programs) that counts the
// allocations made on threads that armed it, so that a test can prove an audio callback allocates
// nothing. Any thread.
namespace CountingAllocator {

// Counting on or off for the calling thread (audio callbacks arm their own thread).
void armThisThread(bool on);
long count();
void reset();

}  // namespace CountingAllocator
