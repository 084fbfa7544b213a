#include "ks/midi_stream.h"

#include <cstddef>
#include <cstring>

namespace {

void PrepareHeader(KSSTREAM_HEADER* pHeader, BYTE* pBuffer, ULONG cbFrameExtent, ULONG cbDataUsed) {
  std::memset(pHeader, 0, sizeof *pHeader);
  pHeader->Size = sizeof(KSSTREAM_HEADER);
  pHeader->PresentationTime.Numerator = 1;
  pHeader->PresentationTime.Denominator = 1;
  pHeader->FrameExtent = cbFrameExtent;
  pHeader->DataUsed = cbDataUsed;
  pHeader->Data = pBuffer;
}

}  // namespace

void PrepareMidiWriteHeader(KSSTREAM_HEADER* pHeader, BYTE* pWriteBuffer) {
  PrepareHeader(pHeader, pWriteBuffer, kMidiWriteFrameExtent, kMidiWriteDataUsed);
}

void PrepareMidiReadHeader(KSSTREAM_HEADER* pHeader, BYTE* pReadBuffer) {
  PrepareHeader(pHeader, pReadBuffer, kMidiReadFrameExtent, 0);
}

ULONG FillMidiWriteEvent(BYTE* pWriteBuffer, const BYTE* pBytes, ULONG cbBytes) {
  ULONG cbChunk = cbBytes < kMidiWriteChunk ? cbBytes : kMidiWriteChunk;
  // TimeDeltaMs stays 0 and the bytes past ByteCount keep what an earlier write left.
  std::memcpy(pWriteBuffer + offsetof(KSMUSICFORMAT, ByteCount), &cbChunk, sizeof cbChunk);
  std::memcpy(pWriteBuffer + sizeof(KSMUSICFORMAT), pBytes, cbChunk);
  return cbChunk;
}

ULONG MidiReadByteCount(const BYTE* pReadBuffer) {
  KSMUSICFORMAT event;
  std::memcpy(&event, pReadBuffer, sizeof event);
  return event.ByteCount < kMidiReadEventRoom ? event.ByteCount : kMidiReadEventRoom;
}

void ClearMidiReadByteCount(BYTE* pReadBuffer) {
  const ULONG cbNone = 0;
  std::memcpy(pReadBuffer + offsetof(KSMUSICFORMAT, ByteCount), &cbNone, sizeof cbNone);
}
