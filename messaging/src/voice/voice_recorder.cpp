#include "voice_recorder.h"

#include <algorithm>

#include "voice_formats.h"

namespace messaging {

std::unique_ptr<VoiceRecorder> VoiceRecorder::create(voice::VoiceCodec codec, HWND window) {
  auto encoder = voice::RecordingEncoder::create(codec);
  if (!encoder) return nullptr;
  return std::unique_ptr<VoiceRecorder>(new VoiceRecorder(std::move(encoder), window));
}

VoiceRecorder::VoiceRecorder(std::unique_ptr<voice::RecordingEncoder> encoder, HWND window)
    : m_encoder(std::move(encoder)), m_window(window) {
  if (m_encoder->codec() == voice::VoiceCodec::Gsm)
    m_format = voice::gsmWaveFormat();
  else
    m_format.wfx = voice::speexWaveFormat();
}

VoiceRecorder::~VoiceRecorder() {
  if (!m_device) return;
  waveInReset(m_device);
  releaseAll();
  close();
}

bool VoiceRecorder::start() {
  const size_t bytes = bufferBytes();
  if (m_device || bytes == 0) return false;
  if (waveInOpen(&m_device, 0, &m_format.wfx, DWORD_PTR(m_window), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
    m_device = nullptr;
    return false;
  }
  while (m_queue.size() < kQueuedBuffers) {
    auto* buffer = new Buffer;
    buffer->data.resize(bytes);
    buffer->header.lpData = buffer->data.data();
    buffer->header.dwBufferLength = DWORD(bytes);
    if (waveInPrepareHeader(m_device, &buffer->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
      delete buffer;
      break;
    }
    if (!queueBuffer(buffer)) break;
  }
  if (m_queue.size() < kQueuedBuffers || waveInStart(m_device) != MMSYSERR_NOERROR) {
    waveInReset(m_device);
    releaseAll();
    close();
    return false;
  }
  return true;
}

bool VoiceRecorder::queueBuffer(Buffer* buffer) {
  if (waveInAddBuffer(m_device, &buffer->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
    release(buffer);
    return false;
  }
  m_queue.push_back(buffer);
  return true;
}

void VoiceRecorder::release(Buffer* buffer) {
  waveInUnprepareHeader(m_device, &buffer->header, sizeof(WAVEHDR));
  delete buffer;
}

void VoiceRecorder::releaseAll() {
  for (Buffer* b : m_queue) release(b);
  m_queue.clear();
}

void VoiceRecorder::close() {
  if (m_device) waveInClose(m_device);
  m_device = nullptr;
}

void VoiceRecorder::onData(HWAVEIN device, WAVEHDR* header, HMessage* message) {
  if (!m_device || device != m_device || !header) return;
  auto it = std::find_if(m_queue.begin(), m_queue.end(), [&](Buffer* b) { return &b->header == header; });
  if (it == m_queue.end()) return;
  Buffer* buffer = *it;
  m_queue.erase(it);
  DWORD bytes = std::min<DWORD>(header->dwBytesRecorded, header->dwBufferLength);
  if (bytes > 0 && message) {
    std::vector<uint8_t> piece = m_encoder->piece(header->lpData, bytes);
    if (!piece.empty()) KS_ContinueMessage(message, piece.data(), int(piece.size()), 0);
  }
  queueBuffer(buffer);
}

void VoiceRecorder::stop(HMessage* message) {
  if (m_device) {
    waveInStop(m_device);
    waveInReset(m_device);
  }
  // What the device returned (the partly filled buffer too) goes unsent;
  // the notices it posted find no queued header and are ignored.
  releaseAll();
  if (message) KS_ContinueMessage(message, nullptr, 0, 1);
  close();
}

}  // namespace messaging
