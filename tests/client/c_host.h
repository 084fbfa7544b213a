/* A host written in C, driving the library only through its exports and hand-written tables
   of function pointers in the slot order hosts rely on. The test supplies what C cannot reach
   (the simulated machine and the message retrieval). */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

struct CHostEnvironment {
  void (*retrieveMessages)(void);
  void (*plugAudioDevice)(void);
  int (*windowClassRegistered)(void);
  void (*pause)(void); /* a millisecond or so, while the host waits for input */
};

/* The device plugged in must have a hidden MIDI port whose output loops back to its input and
   whose path names product 0x0A3C. 0 when every step behaved, else the number of the first step that did not. */
int RunCHost(const struct CHostEnvironment* environment);

#ifdef __cplusplus
}
#endif
