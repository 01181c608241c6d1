#include "voice_recorder.h"

#include <algorithm>

#include "voice_formats.h"

namespace messaging {

std::unique_ptr<VoiceRecorder> VoiceRecorder::create(voice::VoiceCodec codec, HWND window) {
  switch (codec) {
    case voice::VoiceCodec::Speex: return std::make_unique<SpeexRecorder>(window);
    case voice::VoiceCodec::Gsm: return std::make_unique<GsmRecorder>(window);
    case voice::VoiceCodec::None: break;
  }
  return nullptr;
}

VoiceRecorder::~VoiceRecorder() {
  if (!m_device) return;
  m_stopping = true;
  waveInReset(m_device);
  releaseAll();
  close();
}

bool VoiceRecorder::start() {
  if (m_device || m_bufferBytes == 0) return false;
  if (waveInOpen(&m_device, 0, format(), DWORD_PTR(m_window), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
    m_device = nullptr;
    return false;
  }
  while (m_queue.size() < kQueuedBuffers) {
    auto* buffer = new Buffer;
    buffer->data.resize(m_bufferBytes);
    buffer->header.lpData = buffer->data.data();
    buffer->header.dwBufferLength = DWORD(m_bufferBytes);
    if (waveInPrepareHeader(m_device, &buffer->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
      delete buffer;
      break;
    }
    if (!queueBuffer(buffer)) break;
  }
  if (m_queue.size() < kQueuedBuffers || waveInStart(m_device) != MMSYSERR_NOERROR) {
    m_stopping = true;
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

std::deque<VoiceRecorder::Buffer*>::iterator VoiceRecorder::findQueued(const WAVEHDR* header) {
  return std::find_if(m_queue.begin(), m_queue.end(), [&](Buffer* b) { return &b->header == header; });
}

bool VoiceRecorder::onData(HWAVEIN device, WAVEHDR* header, HMessage* message) {
  if (!m_device || device != m_device || !header) return false;
  auto it = findQueued(header);
  if (it == m_queue.end()) return false;
  Buffer* buffer = *it;
  m_queue.erase(it);
  DWORD bytes = std::min<DWORD>(header->dwBytesRecorded, header->dwBufferLength);
  if (!m_stopping && bytes > 0 && message) {
    std::vector<uint8_t> piece = encode(header->lpData, bytes);
    if (!piece.empty()) KS_ContinueMessage(message, piece.data(), int(piece.size()), 0);
  }
  if (m_stopping) {
    release(buffer);
    if (!m_queue.empty()) return false;
    if (message) KS_ContinueMessage(message, nullptr, 0, 1);
    close();
    return true;
  }
  queueBuffer(buffer);
  return false;
}

void VoiceRecorder::stop(HMessage* message) {
  m_stopping = true;
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

SpeexRecorder::SpeexRecorder(HWND window) : VoiceRecorder(window), m_encoder(std::make_unique<voice::SpeexEncoder>()) {
  m_bufferBytes = m_encoder->bufferBytes();
  m_format = voice::speexWaveFormat();
}

std::vector<uint8_t> SpeexRecorder::encode(const void* data, size_t bytes) {
  return m_encoder->encodeBuffer(data, bytes);
}

GsmRecorder::GsmRecorder(HWND window) : VoiceRecorder(window) {
  m_bufferBytes = voice::kGsmBufferBytes;
  m_format = voice::gsmWaveFormat();
}

std::vector<uint8_t> GsmRecorder::encode(const void* data, size_t bytes) {
  // The driver's blocks travel as they are.
  const auto* p = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(p, p + bytes);
}

}  // namespace messaging
