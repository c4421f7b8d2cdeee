#include "driver/handle_table.h"

#include "platform/heap.h"
#include "platform/process_lock.h"

namespace iff {
namespace {

// Value layout: bits 0..15 slot + 1 (1..65535), bits 16..30 generation (1..32767).
constexpr int32_t kSlotsPerChunk = 256;
constexpr int32_t kChunks = 256;
constexpr int32_t kSlots = kSlotsPerChunk * kChunks - 1;
constexpr uint32_t kMaxGeneration = 0x7FFF;

struct Slot {
    IFFHandle *record; // nullptr while free or reserved
    uint32_t generation;
    bool taken;
};

// Chunks are allocated as slots are needed and kept for the life of the
// process, so a record's slot never moves while other threads look it up.
Slot *chunks[kChunks];
int32_t next_free_hint = 0;
int32_t slots_taken = 0;
int32_t slot_limit = kSlots;

Slot *slot_at(int32_t index) {
    Slot *chunk = chunks[index / kSlotsPerChunk];
    return chunk ? &chunk[index % kSlotsPerChunk] : nullptr;
}

} // namespace

int32_t reserve_handle() {
    ProcessLockGuard guard;
    if (slots_taken >= slot_limit) return 0;
    for (int32_t tried = 0; tried < kSlots; ++tried) {
        const int32_t index = (next_free_hint + tried) % kSlots;
        Slot *slot = slot_at(index);
        if (slot == nullptr) {
            auto *chunk = static_cast<Slot *>(heap_alloc_zeroed(sizeof(Slot) * kSlotsPerChunk));
            if (chunk == nullptr) return 0;
            chunks[index / kSlotsPerChunk] = chunk;
            slot = slot_at(index);
        }
        if (slot->taken) continue;
        if (slot->generation == 0) slot->generation = 1;
        slot->taken = true;
        ++slots_taken;
        next_free_hint = (index + 1) % kSlots;
        return int32_t((slot->generation << 16) | uint32_t(index + 1));
    }
    return 0;
}

void bind_handle(int32_t value, IFFHandle *record) {
    const int32_t index = (value & 0xFFFF) - 1;
    if (value <= 0 || index < 0 || index >= kSlots) return;
    ProcessLockGuard guard;
    Slot *slot = slot_at(index);
    if (slot != nullptr && slot->taken && slot->generation == (uint32_t(value) >> 16)) slot->record = record;
}

IFFHandle *find_handle(int32_t value) {
    if (value <= 0) return nullptr;
    const int32_t index = (value & 0xFFFF) - 1;
    const uint32_t generation = uint32_t(value) >> 16;
    if (index < 0 || index >= kSlots) return nullptr;
    ProcessLockGuard guard;
    Slot *slot = slot_at(index);
    if (slot == nullptr || slot->record == nullptr || slot->generation != generation) return nullptr;
    return slot->record;
}

void unregister_handle(int32_t value) {
    if (value <= 0) return;
    const int32_t index = (value & 0xFFFF) - 1;
    if (index < 0 || index >= kSlots) return;
    ProcessLockGuard guard;
    Slot *slot = slot_at(index);
    if (slot == nullptr || !slot->taken || slot->generation != (uint32_t(value) >> 16)) return;
    slot->record = nullptr;
    slot->taken = false;
    --slots_taken;
    slot->generation = slot->generation >= kMaxGeneration ? 1 : slot->generation + 1;
}

int32_t handle_table_blocks() {
    ProcessLockGuard guard;
    int32_t blocks = 0;
    for (const Slot *chunk : chunks) blocks += chunk != nullptr ? 1 : 0;
    return blocks;
}

void limit_handles(int32_t limit) {
    ProcessLockGuard guard;
    slot_limit = limit > 0 && limit < kSlots ? limit : kSlots;
}

} // namespace iff
