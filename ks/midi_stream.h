// The MIDI stream requests of the hidden port, in one place: each request is one
// KSSTREAM_HEADER whose Data points at a buffer that starts with one KSMUSICFORMAT event,
// followed by the raw MIDI bytes. A port owns one header, one buffer and one OVERLAPPED per
// direction and reuses them for every request.
#pragma once

#include "platform/win32.h"

// Write: at most 640 MIDI bytes per request, in a 652-byte buffer zero-filled once. The
// header's DataUsed always reads 12; the event's ByteCount says how many bytes follow.
const ULONG kMidiWriteChunk = 640;
const ULONG kMidiWriteBufferSize = 652;
const ULONG kMidiWriteFrameExtent = 652;
const ULONG kMidiWriteDataUsed = 12;

// Read: the driver fills at most a 20-byte frame, one event of up to 12 bytes, at the start
// of a 40-byte buffer zero-filled once and never cleared between reads.
const ULONG kMidiReadBufferSize = 40;
const ULONG kMidiReadFrameExtent = 20;
const ULONG kMidiReadEventRoom = kMidiReadFrameExtent - sizeof(KSMUSICFORMAT);

// Sets every header field of a write request, once when the port opens.
void PrepareMidiWriteHeader(KSSTREAM_HEADER* pHeader, BYTE* pWriteBuffer);

// Puts the next chunk of bytes (at most 640) into the write buffer as its event: only
// ByteCount and the bytes are written. Returns the number of bytes taken.
ULONG FillMidiWriteEvent(BYTE* pWriteBuffer, const BYTE* pBytes, ULONG cbBytes);

// Sets every header field of a read request, again before every read.
void PrepareMidiReadHeader(KSSTREAM_HEADER* pHeader, BYTE* pReadBuffer);

// The MIDI bytes of a completed read: they start at offset 8. ByteCount comes from the
// driver and is never taken beyond the frame's room.
ULONG MidiReadByteCount(const BYTE* pReadBuffer);
// Sets the record's ByteCount to 0 before a read, so that a read completed without a record
// reads as empty rather than as the previous record.
void ClearMidiReadByteCount(BYTE* pReadBuffer);
inline const BYTE* MidiReadBytes(const BYTE* pReadBuffer) { return pReadBuffer + sizeof(KSMUSICFORMAT); }
