#include "driver/optex.h"

#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/optex_os.h"

namespace {

// -1 until the first lock is built, then 1 on a single-processor machine and
// 0 otherwise.
std::atomic<int> gSingleProcessor{-1};

const char kEventPrefix[] = "Optex_Event_";
const char kSectionPrefix[] = "Optex_MMF_";
constexpr size_t kSystemNameSize = 100;

static_assert(COptex::kMaxNameLength + sizeof(kEventPrefix) == kSystemNameSize,
              "the longer prefix bounds the name");

void AppendUtf8(std::string* out, uint32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// wchar_t is UTF-16 on Windows and UTF-32 elsewhere.
std::string WideToUtf8(const wchar_t* text) {
  std::string out;
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    uint32_t c = static_cast<uint32_t>(*p);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF) {
      const uint32_t low = static_cast<uint32_t>(p[1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++p;
      }
    }
    AppendUtf8(&out, c);
  }
  return out;
}

}  // namespace

COptex::COptex(uint32_t spinCount) { Construct(spinCount, nullptr); }

COptex::COptex(uint32_t spinCount, const char* name) { Construct(spinCount, name); }

COptex::COptex(uint32_t spinCount, const wchar_t* name) {
  if (name == nullptr) {
    Construct(spinCount, nullptr);
  } else {
    Construct(spinCount, WideToUtf8(name).c_str());
  }
}

void COptex::Construct(uint32_t spinCount, const char* name) {
  if (gSingleProcessor.load() == -1) {
    gSingleProcessor.store(platform::ProcessorCount() == 1 ? 1 : 0);
  }
  uint32_t error = 0;
  if (name == nullptr) {
    Event = platform::OpenOptexEvent(nullptr, nullptr, &error);
    if (Event == nullptr) {
      throw std::system_error(static_cast<int>(error), std::system_category(),
                              "COptex: event not created");
    }
    Shared = new Block{};
  } else {
    const std::string text = name;
    if (text.size() > kMaxNameLength) {
      throw std::invalid_argument("COptex: lock name longer than " +
                                  std::to_string(kMaxNameLength) + " bytes");
    }
    void* block = nullptr;
    Mapping = platform::OpenOptexSection((kSectionPrefix + text).c_str(), &block, &error);
    if (Mapping == nullptr) {
      throw std::system_error(static_cast<int>(error), std::system_category(),
                              "COptex: shared section not opened");
    }
    Event = platform::OpenOptexEvent((kEventPrefix + text).c_str(), Mapping, &error);
    if (Event == nullptr) {
      platform::CloseOptexSection(Mapping);
      throw std::system_error(static_cast<int>(error), std::system_category(),
                              "COptex: event not opened");
    }
    // The section holds four aligned 32-bit words; lock-free atomics of that
    // size share their representation with them.
    static_assert(std::atomic<uint32_t>::is_always_lock_free, "atomics in shared memory");
    Shared = static_cast<Block*>(block);
  }
  SetSpinCount(spinCount);
}

COptex::~COptex() {
  platform::CloseOptexEvent(Event);
  if (Mapping != nullptr) {
    platform::CloseOptexSection(Mapping);
  } else {
    delete Shared;
  }
}

void COptex::SetSpinCount(uint32_t spinCount) {
  if (gSingleProcessor.load() == 0) Shared->SpinCount.exchange(spinCount);
}

void COptex::TakeOwnership(uint32_t threadId) {
  Shared->OwnerThreadId.store(threadId);
  Shared->RecursionCount.store(1);
}

bool COptex::TryEnter(uint32_t* attempts) {
  const uint32_t me = platform::CurrentThreadId();
  uint32_t budget = Shared->SpinCount.load();
  uint32_t made = 0;
  bool held = false;
  for (;;) {
    ++made;
    uint32_t expected = 0;
    if (Shared->LockCount.compare_exchange_strong(expected, 1)) {
      TakeOwnership(me);
      held = true;
      break;
    }
    if (Shared->OwnerThreadId.load() == me) {
      Shared->LockCount.fetch_add(1);
      Shared->RecursionCount.fetch_add(1);
      held = true;
      break;
    }
    if (budget == 0) break;
    --budget;
  }
  if (attempts != nullptr) *attempts = made;
  return held;
}

void COptex::Enter() {
  if (TryEnter()) return;
  const uint32_t me = platform::CurrentThreadId();
  if (Shared->LockCount.fetch_add(1) + 1 == 1) {
    // The owner left in the meantime.
    TakeOwnership(me);
    return;
  }
  if (Shared->OwnerThreadId.load() == me) {
    Shared->RecursionCount.fetch_add(1);
    return;
  }
  platform::WaitOptexEvent(Event);
  TakeOwnership(me);
}

void COptex::Leave() {
  if (Shared->OwnerThreadId.load() != platform::CurrentThreadId()) return;
  const uint32_t remaining = Shared->RecursionCount.load() - 1;
  Shared->RecursionCount.store(remaining);
  if (remaining > 0) {
    Shared->LockCount.fetch_sub(1);
    return;
  }
  Shared->OwnerThreadId.store(0);
  if (Shared->LockCount.fetch_sub(1) - 1 > 0) {
    // Threads are waiting: release exactly one.
    platform::SignalOptexEvent(Event);
  }
}

COptex::State COptex::Snapshot() const {
  return State{Shared->SpinCount.load(), Shared->LockCount.load(), Shared->OwnerThreadId.load(),
               Shared->RecursionCount.load()};
}
