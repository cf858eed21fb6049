// The PPM model: hashed contexts of orders 1..7 in fixed pools, an order-0
// model and a uniform order -1 table for bytes never seen. One Model is one
// session's model; encoder and decoder run the same code paths so their
// statistics cannot drift apart.
//
// Pool invariants (what the format fixes is when pools fill and what a
// collection frees; where a record or symbol sits is ours to choose):
// - Records and symbol blocks live in one cache-aligned arena; links are
//   32-bit byte offsets into it (0 = null). Records are 32 bytes on 32-byte
//   boundaries, so one record is one cache-line access.
// - A record's symbols are positions 0..numSymbols-1 in coding order.
//   Position 0 lives in the record; the others are one contiguous block, so
//   a search never chases links. Swaps exchange what two positions hold.
// - A record in a hash chain holds at least one symbol (sumFreq > 0) except
//   between its creation by the lookup and the update of the same step.
// - sumFreq equals the sum of the freq of the record's positions.
// - The format's node pool is a count per level: nodes become usable
//   kNodeChunk at a time, only when none is left, and a freed record returns
//   numSymbols - 1 of them. A block holds at most 8 (12 at the highest level)
//   bytes per node it counts, so a level's block region, sized to that bound,
//   always has room once compacted; compaction is rare and moves no record.
// - Collection: the low bit of the format's bucket function (BucketBit, from
//   a hash of the context bytes that is part of the stream format) decides
//   which records a collection pass may free. A pass over a level visits
//   exactly the records whose bucket has that bit equal to the level's
//   parity, then flips the parity. It frees the visited records of activity 0
//   and halves the activity of the others. Our table keeps that bucket bit as
//   the lowest bit of every slot, so a pass walks every other slot; the table
//   is sized to the level's pool, not to the format's bucket count.
// - Successor links (highest level only) carry the target record's
//   generation, which counts the times the record was freed; a link whose
//   tag differs is null, exactly as if the format's scan had cleared it. A
//   scan clears stale links every 4095 passes, before a 12-bit tag can wrap.
// - Each slot of the highest level has a presence byte beside the tables:
//   bit (tag & 7) is set for the tag of every record in its chain (a
//   collection pass recomputes the bytes of the slots it visits). A clear
//   bit proves a key absent without reading the slot, which is where most
//   new contexts would wait: the lookup creates the record at once and puts
//   it at the head of its chain at the end of the update, when the slot has
//   arrived. No lookup or collection of that level can come in between (an
//   update that must collect there links first).
// - Within a level no two live records share a key (context bytes, plus the
//   bucket byte at level 7 with a pseudo order). So a hint (the record one
//   level down that an escape last reached) needs no tag: a live record with
//   the wanted key is the one the table would find.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "container/settings.h"
#include "entropy/range_coder.h"
#include "model/counters.h"
#include "model/history.h"
#include "model/tables.h"

namespace velt::model {

// Position 1 and beyond of a record; at the highest level the block also
// holds one successor link per slot, after the slots.
struct Slot {
  uint8_t symbol;
  uint8_t spare;
  uint16_t freq;
};

struct Context {
  uint32_t chainNext;  // next record of the bucket, or next free record
  uint32_t block;      // positions 1.. (0: none)
  uint32_t successor;  // position 0's: highest-level record that followed (successorLink)
  // Low 20 bits: index + 1 of the record one level down that was used last
  // after an escape from here, a hint checked before use (0: none). High 12:
  // the generation, times the record was freed (highest level: successor tags).
  uint32_t lowerAndGeneration;
  uint16_t sumFreq;    // 0: created but empty, or free
  uint16_t freq;       // position 0's
  uint16_t lastCoded;  // position + 1 of the last symbol coded here; 0: none
  uint8_t contextBytes[7];
  uint8_t activity;
  uint8_t numSymbols;  // 8 bits: 256 symbols store 0
  uint8_t symbol;      // position 0's
};

static_assert(sizeof(Slot) == 4);
static_assert(sizeof(Context) == 32, "records fill half a cache line");

struct EscapeCell {
  uint16_t esc;
  uint16_t succ;
};

// Text-mode flags the escape estimate reads.
struct ModelTextFlags {
  bool sparsePunctuation = false;
  bool mostlyLowercase = false;
  bool crlfLineEnds = false;
};

class Model {
 public:
  // order 4..7, pseudoOrder 0..2, memoryIndex 0..8; textMode enlarges the
  // low-order pools.
  Model(int order, int pseudoOrder, int memoryIndex, bool textMode, const ModelTextFlags& text);
  ~Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // One byte through the model, update included.
  void encodeByte(RangeEncoder& rc, uint8_t s);
  uint8_t decodeByte(RangeDecoder& rc);

  void adaptBoostShift();
  void breakSuccessorChain();

  History history;
  ModelCounters counters;

  // Introspection for tests.
  int boostShift() const { return boostShift_; }
  void setMissHitCounts(int misses, int hits) { missCount_ = misses, hitCount_ = hits; }
  // Large records are searched 16 slots at a time where the CPU can; the
  // plain loops must give the same bytes.
  void usePlainLoops() {
    wideSlots_ = false;
    wideMasks_ = 0;
  }
  size_t arenaBytes() const { return arenaSize_; }
  // Every record's tag has its bit in its slot's presence byte, and no
  // created record waits to be linked (as between steps).
  bool presenceCoversChains() const;

 private:
  static constexpr int kBlockClasses = 16;

  // A power-of-two size makes indexing by level one shift.
  struct alignas(256) Level {
    uint32_t nodeCapacity = 0, nodesFree = 0, nodesLinked = 0;  // the format's node pool
    uint32_t contextBase = 0, contextCapacity = 0, contextFree = 0, contextsUsed = 0;
    uint32_t hashSize = 0;   // the format's bucket count
    uint32_t tableSize = 0;  // our slot count: a power of two >= 256
    uint32_t* buckets = nullptr;
    uint8_t* presence = nullptr;   // highest level: a byte per slot
    int parity = 0;                // the bucket bit the next collection pass visits
    BucketBit bucketBit;           // a context's bucket bit
    uint64_t keyMask = 0;          // the level's context bytes within a 64-bit load
    int slotShift = 64;            // 64 - log2(tableSize)
    uint8_t* extra = nullptr;      // level 7 with a pseudo order: the byte that chose the bucket
    uint32_t passesSinceScan = 0;  // highest level: collection passes since the link scan
    // Symbol blocks: a region with a bump pointer and a free list per class.
    uint32_t blockBase = 0, blockTop = 0, blockEnd = 0;
    uint32_t entryBytes = 4;  // per slot: 4, or 8 with a successor link
    uint32_t freeBlocks[kBlockClasses] = {};
  };
  static_assert(sizeof(Level) == 256);

  // Four bytes, written with one store.
  struct PathEntry {
    uint8_t level;
    bool found;
    uint16_t position;  // coded symbol's position, after any swap
  };

  Context* context(uint32_t off) { return reinterpret_cast<Context*>(arena_ + off); }
  const Context* context(uint32_t off) const {
    return reinterpret_cast<const Context*>(arena_ + off);
  }
  Slot* slots(const Context* k) { return reinterpret_cast<Slot*>(arena_ + k->block + 4); }
  uint32_t* blockSuccessors(const Context* k);
  // Either address is computed and one is picked, without a branch: which
  // position is wanted is hard to predict.
  uint16_t& freqAt(Context* k, int pos) {
    const uintptr_t inRecord = reinterpret_cast<uintptr_t>(&k->freq);
    const uintptr_t inBlock = reinterpret_cast<uintptr_t>(arena_ + k->block + 4 * size_t(pos) + 2);
    const uintptr_t pick = uintptr_t(0) - uintptr_t(pos != 0);  // a select the compiler keeps
    return *reinterpret_cast<uint16_t*>(inRecord ^ ((inRecord ^ inBlock) & pick));
  }
  uint32_t& successorAt(Context* k, int pos) {
    return pos ? blockSuccessors(k)[pos - 1] : k->successor;
  }
  void swapPositions(Context* k, int a, int b, bool links);

  // Lookup and memory.
  uint64_t historyKey(int level) const;
  static constexpr uint64_t kKeyHash = 0x9E3779B97F4A7C15ull;
  static uint32_t tableSlot(const Level& lv, uint64_t key, uint32_t bucket) {
    return (uint32_t((key * kKeyHash) >> lv.slotShift) & ~1u) | (bucket & 1u);
  }
  // Chain links (slot heads, and chainNext of a record in a chain) are record
  // offsets, multiples of 32, with the low bits holding the record's key tag
  // and whether another record follows it.
  static constexpr uint32_t kTagMask = 15, kMoreBit = 16, kLinkBits = 31;
  static uint32_t keyTag(const Level& lv, uint64_t key);
  static uint32_t presenceBit(uint32_t tag) { return 1u << (tag & 7); }
  static uint32_t recordIndex(const Level& lv, uint32_t rec) {
    return (rec - lv.contextBase) / uint32_t(sizeof(Context));  // a shift
  }
  uint32_t successorLink(uint32_t rec) const;
  uint32_t linkedRecord(uint32_t link) const;  // the record a link names, valid or not
  uint32_t successorRecord(uint32_t link) const;
  void dropStaleSuccessors();
  uint32_t levelSlot(int level, uint64_t key) const {
    return tableSlot(levels_[level], key, levels_[level].bucketBit(history.h));
  }
  [[gnu::always_inline]] uint32_t lookupContext(uint32_t above);
  void linkCreatedRecord();
  void setLowerHint(uint32_t above, const Level& lv, uint32_t rec);
  void prefetchLower(uint32_t rec, int level);
  void extendNodePool(int level);
  uint32_t takeContext(int level);
  void collectGarbage(int level);
  [[gnu::always_inline]] void appendSymbol(int level, uint32_t rec, uint8_t s, uint16_t freq);
  uint32_t allocateBlock(int level, int cls, uint32_t owner);
  void releaseBlock(int level, uint32_t block, int cls);
  void compactBlocks(int level);

  // Coding in one context. codeFirst returns the symbol's position after any
  // swap, or -1 on an escape; it leaves the found entry of the path to the
  // caller. codeMasked returns true when the symbol was found.
  template <bool kTop, class Side>  // kTop: level is order_
  [[gnu::always_inline]] int codeFirst(Side& side, uint32_t ctx, int level);
  template <class Side>
  bool codeMasked(Side& side, uint32_t ctx, int level);
  template <class Side>
  void codeOrder0(Side& side);
  template <class Side>
  void codeNewSymbol(Side& side);
  template <class Side>
  [[gnu::always_inline]] void step(Side& side);

  EscapeCell& cell(int row, int bucket, int idx) {
    return escapes_[(row * kEscapeBuckets + bucket) * kEscapeCells + idx];
  }
  int escapeRow(int level) const;
  void excludeAll(const Context* k);
  void markExcluded(const Context* k);
  int collectExclusions();
  // s's count when s is not excluded, else 0.
  uint32_t visibleFreq(uint8_t s, uint16_t freq) const {
    return freq & uint16_t(int16_t(int8_t(keep_[s])));
  }
  void clearExclusions();

  void updateOrder0(int slot);
  void updateModel(uint8_t s);
  [[gnu::always_inline]] void finishFirst(uint32_t rec, int position);
  // freq: the position's count, where the coder found it.
  [[gnu::always_inline]] void updateFound(uint32_t kOff, uint16_t rescaleLimit, uint8_t activityCap,
                                          int position, uint16_t& freq);
  void halveContext(Context* k);
  void setPendingSuccessor(uint32_t link);
  [[gnu::always_inline]] void prepareTopSlot(uint8_t s);
  [[gnu::always_inline]] bool fetchNextTopHead();

  int order_, pseudoOrder_;
  uint8_t topActivityCap_;
  OrderRow row_;
  ModelTextFlags text_;
  uint16_t rescaleLimit0_ = kRescaleLimit[0];

  uint8_t* arena_ = nullptr;
  size_t arenaSize_ = 0;        // bytes the model may touch, without the padding between regions
  void* tableBlock_ = nullptr;  // holds the slot tables, from a huge page boundary on
  Level levels_[kLevels];
  uint32_t root_ = 0;
  uint32_t linkBase_ = 0;             // highest level: where the record of index + 1 == 0 would sit
  uint32_t lowerBase_[kLevels] = {};  // the same for the level below each (0: none)

  // Order 0 and order -1.
  int32_t f0_[257];
  int32_t z0_[258];
  uint8_t slotSymbol_[257];
  uint16_t symbolSlot_[256];
  int32_t newTable_[258];
  int32_t excludedWidthAt_[258] = {};  // order 0's decoder: zero outside a call
  bool firstDone_ = false;

  // Per-step state.
  alignas(16) uint8_t keep_[256];  // 0 for a symbol excluded in this step, else all ones
  uint8_t excludedList_[256];      // order 0's: the excluded symbols, from the masks
  bool anyExcluded_ = false;
  bool wideSlots_ = true;  // large records' searches go 16 slots at a time
  int wideMasks_ = 0;      // their masked pass: 16 or 32 slots at a time (0: plain)
  PathEntry path_[8];
  int pathLength_ = 0;
  uint32_t levelContext_[kLevels] = {};
  uint32_t slot_[kLevels] = {};  // table slots fetched early this step (slotReady_ bits)
  uint32_t slotReady_ = 0;
  uint32_t* pendingHead_ = nullptr;  // the slot a top record created this step waits to head
  uint32_t pendingLink_ = 0;         // its link
  // The next step's top-level key, slot and presence bit, when nextTopReady_.
  uint64_t nextTopKey_ = 0;
  uint32_t nextTopSlot_ = 0;
  uint32_t nextTopPresence_ = 0;
  bool nextTopReady_ = false;
  int currentLevel_ = 0;
  int historyRow_ = 0;             // the escape row's share from the last two bytes
  uint32_t current_ = 0;           // record that coded the symbol (or the root)
  uint16_t* codedFreq_ = nullptr;  // its count, for an update that follows at once

  // Across steps.
  int boostShift_ = 4;
  uint8_t missRun_ = 1;
  int32_t prevEscape_ = 1;
  int32_t successRun_ = 0;
  int32_t hitCount_ = 0, missCount_ = 0;
  int lastLevel_ = 0;
  bool escapeMode_ = false;
  uint32_t pendingRecord_ = 0;  // highest-level position whose successor is still unknown
  int pendingPosition_ = 0;
  uint32_t fastLink_ = 0;  // successor link of the last symbol coded at the top
  uint32_t codedAtLevel_[kLevels] = {};

  // In the object, not behind a pointer: each cell's address is one step from this.
  EscapeCell escapes_[kEscapeRows * kEscapeBuckets * kEscapeCells];
};

}  // namespace velt::model
