// PPM model: set-up, hashed lookup with garbage collection, the first-context
// and masked coders, order 0 / order -1, and the per-byte step with its update.
// Encoding and decoding share every routine through a small "side" policy, so
// the two directions make the same decisions by construction.
#include "model/model.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdlib>
#include <new>

#include "model/wide_slots.h"

// Passes over all of a record's symbols run long on binary data: unrolled,
// they spend less on the loop itself. Searches that stop at the symbol stay
// rolled: each unrolled exit is one more branch to mispredict.
#if defined(__clang__)
#define VELT_UNROLL4 _Pragma("unroll 4")
#elif defined(__GNUC__)
#define VELT_UNROLL4 _Pragma("GCC unroll 4")
#else
#define VELT_UNROLL4
#endif

namespace velt::model {

namespace {

constexpr uint32_t kNull = 0;
constexpr int kLinkIndexBits = 20;
constexpr uint32_t kGenerationMask = 0xFFF;
constexpr uint32_t kGenerationPeriod = kGenerationMask;

// Successor links and lower hints hold a record index + 1 in kLinkIndexBits.
constexpr uint32_t kIndexMask = (1u << kLinkIndexBits) - 1;
constexpr bool poolsFitTheLinks() {
  for (int o = 0; o < 4; ++o) {
    for (const CapacityRow& row : kCapacities[o]) {
      for (uint32_t contexts : row.contexts) {
        if (contexts >= kIndexMask) return false;
      }
    }
  }
  return true;
}
static_assert(poolsFitTheLinks(), "a pool outgrows the record links");

inline uint32_t generationOf(const Context* c) { return c->lowerAndGeneration >> kLinkIndexBits; }
constexpr uint8_t kCapitalMarker = 0xFD;

// The escape row's share from the last two bytes: 15 when the last is below
// 64, plus 31 when the one before is. Tables: the compares took 9 instructions.
constexpr std::array<std::array<uint8_t, 256>, 2> makeRowShare() {
  std::array<std::array<uint8_t, 256>, 2> t{};
  for (int b = 0; b < 64; ++b) t[0][b] = 15, t[1][b] = 31;
  return t;
}
constexpr auto kRowShare = makeRowShare();

// Symbol blocks come in classes of these slot counts; a record with r
// symbols beyond position 0 uses the smallest class that holds r.
constexpr uint16_t kClassCapacity[] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192, 256};

constexpr std::array<uint8_t, 257> makeClassOf() {
  std::array<uint8_t, 257> t{};
  for (int r = 1; r <= 256; ++r) {
    int c = 0;
    while (kClassCapacity[c] < r) ++c;
    t[r] = static_cast<uint8_t>(c);
  }
  return t;
}
constexpr auto kClassOf = makeClassOf();

// A block: the owner's offset (or, when free, its class and the next free
// block), then the slots, then (highest level) the successor links.
constexpr uint32_t blockBytes(uint32_t entryBytes, int cls) {
  return 4 + entryBytes * kClassCapacity[cls];
}

// The most block bytes one counted node can cost: a level's region holds its
// whole node pool at this rate, so compaction always makes room.
constexpr uint32_t bytesPerNode(uint32_t entryBytes) {
  uint32_t most = 0;
  for (uint32_t r = 1; r <= 255; ++r)
    most = std::max(most, (blockBytes(entryBytes, kClassOf[r]) + r - 1) / r);
  return most;
}
static_assert(bytesPerNode(4) == 8 && bytesPerNode(8) == 12);

// Symbols beyond position 0; numSymbols keeps 256 as 0.
inline int restCount(const Context* k) { return uint8_t(k->numSymbols - 1); }

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Records, tables and symbol blocks are reached at random: with small pages
// nearly every step misses the TLB. Huge pages are asked for only where a
// full model surely touches every byte anyway (records and blocks are handed
// out front to back; a full node pool holds at least its slots' bytes), so the
// peak resident size of a full model does not grow.
constexpr uintptr_t kHugePage = uintptr_t(2) << 20;

// A region large enough to hold a huge page starts on a huge page boundary;
// the padding is address space only, never touched.
size_t alignRegion(size_t offset, size_t bytes, size_t& padding) {
  const size_t align = bytes >= kHugePage ? kHugePage : 64;
  const size_t start = (offset + align - 1) & ~(align - 1);
  padding += start - ((offset + 63) & ~size_t(63));
  return start;
}

void adviseHugePages(uint8_t* from, size_t bytes) {
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(from) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(from) + bytes) & ~(kHugePage - 1);
#ifdef MADV_HUGEPAGE
  if (begin < end) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)begin, (void)end;
#endif
}

struct EncodeSide {
  static constexpr bool kDecode = false;
  RangeEncoder& rc;
  uint8_t symbol;
};

struct DecodeSide {
  static constexpr bool kDecode = true;
  RangeDecoder& rc;
  uint8_t symbol = 0;
};

}  // namespace

Model::Model(int order, int pseudoOrder, int memoryIndex, bool textMode, const ModelTextFlags& text)
    : order_(order), pseudoOrder_(pseudoOrder), topActivityCap_(kActivityCap[order]), text_(text) {
  row_ = kOrderRows[order - 4];
  const CapacityRow& caps = kCapacities[order - 4][memoryIndex];

  uint32_t nodeCaps[kLevels], contextCaps[kLevels];
  for (int l = 0; l < kLevels; ++l) {
    nodeCaps[l] = caps.nodes[l];
    contextCaps[l] = caps.contexts[l];
  }
  if (textMode) {
    contextCaps[1] = 200;
    contextCaps[2] = 5120;
    nodeCaps[2] = 29696;
  }

  // Offset 0 stays unused so that 0 can mean null.
  // Records start on 32-byte boundaries (the arena is aligned to huge pages),
  // so a record never straddles two cache lines.
  size_t size = sizeof(Context);
  root_ = static_cast<uint32_t>(size);
  size += sizeof(Context);
  size_t bucketCount = 0;
  size_t padding = 0;  // between regions, for huge pages
  size_t extraOffset[kLevels] = {};
  for (int l = 1; l <= order; ++l) {
    Level& lv = levels_[l];
    lv.hashSize = row_.hashSize[l];
    if (lv.hashSize == 0) continue;  // level not on this order's walk
    lv.nodeCapacity = nodeCaps[l];
    lv.contextCapacity = contextCaps[l];
    // Pages of the block region are touched only as blocks are handed out.
    lv.entryBytes = l == order ? 8 : 4;
    const size_t blockBytes = size_t(bytesPerNode(lv.entryBytes)) * (lv.nodeCapacity + 256);
    size = alignRegion(size, blockBytes, padding);
    lv.blockBase = lv.blockTop = static_cast<uint32_t>(size);
    size += blockBytes;
    lv.blockEnd = static_cast<uint32_t>(size);
    size = alignRegion(size, size_t(lv.contextCapacity) * sizeof(Context), padding);
    lv.contextBase = static_cast<uint32_t>(size);
    size += size_t(lv.contextCapacity) * sizeof(Context);
    // Our table is sized to the level's records, not to the format's bucket
    // count (a slot's lowest bit is still its bucket's): at most two records
    // per slot, and no sparse table for a small pool.
    lv.tableSize = 256;
    while (lv.tableSize < lv.contextCapacity / 2) lv.tableSize <<= 1;
    bucketCount += lv.tableSize;
    lv.keyMask = ~uint64_t(0) >> (64 - 8 * l);
    lv.bucketBit = BucketBit::of(l, pseudoOrder);
    lv.slotShift = 64;
    for (uint32_t n = lv.tableSize; n > 1; n >>= 1) --lv.slotShift;
    if (l == 7 && pseudoOrder > 0) {
      extraOffset[l] = size;
      size += lv.contextCapacity;
    }
  }
  // Untouched pages of a large allocation stay unmapped, so a small input
  // costs little even with a large model.
  size = (size + 63) & ~size_t(63);
  arenaSize_ = size - padding;
  void* arena = nullptr;
  // Wide passes (wide_slots.h) read up to 124 bytes past a block.
  if (posix_memalign(&arena, kHugePage, size + 128)) arena = nullptr;
  arena_ = static_cast<uint8_t*>(arena);
  // The tables start on a huge page boundary, so that all of them can use
  // huge pages; calloc leaves the pages of a large block unmapped until used.
  const size_t tableBytes = (bucketCount ? bucketCount : 1) * 4;
  const size_t presenceBytes = levels_[order].tableSize;
  tableBlock_ = std::calloc(tableBytes + presenceBytes + kHugePage, 1);
  uint32_t* buckets = reinterpret_cast<uint32_t*>(
      (reinterpret_cast<uintptr_t>(tableBlock_) + kHugePage - 1) & ~uintptr_t(kHugePage - 1));
  if (!arena_ || !tableBlock_) {
    std::free(arena_);
    std::free(tableBlock_);
    throw std::bad_alloc();
  }
  adviseHugePages(reinterpret_cast<uint8_t*>(buckets), tableBytes);
  uint8_t* presence = reinterpret_cast<uint8_t*>(buckets + bucketCount);
  for (int l = 1; l <= order; ++l) {
    Level& lv = levels_[l];
    if (lv.hashSize == 0) continue;
    adviseHugePages(arena_ + lv.contextBase, size_t(lv.contextCapacity) * sizeof(Context));
    adviseHugePages(arena_ + lv.blockBase, size_t(lv.entryBytes) * lv.nodeCapacity);
    lv.buckets = buckets;
    buckets += lv.tableSize;
    if (l == order) lv.presence = presence;
    if (extraOffset[l]) lv.extra = arena_ + extraOffset[l];
    lv.nodesLinked = 0;
    extendNodePool(l);
  }
  linkBase_ = levels_[order].contextBase - uint32_t(sizeof(Context));
  for (int l = 1; l <= order; ++l) {
    const int lower = row_.nextLevel[l];
    if (levels_[l].hashSize && lower)
      lowerBase_[l] = levels_[lower].contextBase - uint32_t(sizeof(Context));
  }
  counters.poolExtensions = 0;

  Context* root = context(root_);
  std::memset(root, 0, sizeof(Context));
  root->sumFreq = 24;
  root->numSymbols = 1;
  root->symbol = 0;
  root->freq = 8;

  for (EscapeCell& x : escapes_) x = EscapeCell{0, 1};

  f0_[0] = 0;
  for (int j = 1; j <= 256; ++j) {
    f0_[j] = 1;
    slotSymbol_[j] = static_cast<uint8_t>(j - 1);
    symbolSlot_[j - 1] = static_cast<uint16_t>(j);
  }
  for (int j = 0; j <= 256; ++j) z0_[j] = 27;
  z0_[257] = 0;
  for (int j = 0; j <= 256; ++j) newTable_[j] = 256 - j;
  newTable_[257] = 0;

  std::memset(keep_, 0xFF, sizeof keep_);
#if VELT_WIDE_MASKS
  __builtin_cpu_init();  // a model built by a static constructor may come before the runtime's
  wideMasks_ = __builtin_cpu_supports("avx2") ? 32 : __builtin_cpu_supports("ssse3") ? 16 : 0;
#endif
}

Model::~Model() {
  std::free(arena_);
  std::free(tableBlock_);
}

// ---------------------------------------------------------------------------
// Memory

void Model::extendNodePool(int level) {
  Level& lv = levels_[level];
  ++counters.poolExtensions;
  const uint32_t first = lv.nodesLinked;
  const uint32_t last = std::min(first + kNodeChunk, lv.nodeCapacity);
  if (first >= last) return;
  lv.nodesFree = last - first;
  lv.nodesLinked = last;
}

uint32_t Model::allocateBlock(int level, int cls, uint32_t owner) {
  Level& lv = levels_[level];
  uint32_t b = lv.freeBlocks[cls];
  if (b) {
    lv.freeBlocks[cls] = load32(arena_ + b + 4);
  } else {
    const uint32_t bytes = blockBytes(lv.entryBytes, cls);
    if (lv.blockEnd - lv.blockTop < bytes) compactBlocks(level);
    b = lv.blockTop;
    lv.blockTop += bytes;
  }
  store32(arena_ + b, owner);
  return b;
}

void Model::releaseBlock(int level, uint32_t block, int cls) {
  Level& lv = levels_[level];
  store32(arena_ + block, uint32_t(cls));
  store32(arena_ + block + 4, lv.freeBlocks[cls]);
  lv.freeBlocks[cls] = block;
}

// Slides the live blocks down over the free ones. Owners are record offsets,
// never below kBlockClasses, so a block's first word tells the two apart.
void Model::compactBlocks(int level) {
  ++counters.blockCompactions;
  Level& lv = levels_[level];
  uint32_t to = lv.blockBase;
  for (uint32_t from = lv.blockBase; from < lv.blockTop;) {
    const uint32_t head = load32(arena_ + from);
    if (head < kBlockClasses) {
      from += blockBytes(lv.entryBytes, int(head));
      continue;
    }
    Context* k = context(head);
    const uint32_t bytes = blockBytes(lv.entryBytes, kClassOf[restCount(k)]);
    if (to != from) {
      std::memmove(arena_ + to, arena_ + from, bytes);
      k->block = to;
    }
    to += bytes;
    from += bytes;
  }
  lv.blockTop = to;
  for (uint32_t& head : lv.freeBlocks) head = kNull;
}

uint32_t* Model::blockSuccessors(const Context* k) {
  return reinterpret_cast<uint32_t*>(arena_ + k->block + 4 +
                                     4 * kClassCapacity[kClassOf[restCount(k)]]);
}

// Exchanges what two positions hold (a < b; position 0 is in the record).
void Model::swapPositions(Context* k, int a, int b, bool links) {
  Slot* sl = slots(k);
  Slot& y = sl[b - 1];
  if (a) {
    std::swap(sl[a - 1], y);  // the spare bytes are 0 in every slot
  } else {
    std::swap(k->symbol, y.symbol);
    std::swap(k->freq, y.freq);
  }
  if (links) {
    uint32_t* next = blockSuccessors(k);
    std::swap(a ? next[a - 1] : k->successor, next[b - 1]);
  }
}

// Puts symbol s with count freq at the next position, moving the symbols to
// a larger block when the present one is full.
inline void Model::appendSymbol(int level, uint32_t rec, uint8_t s, uint16_t freq) {
  Context* k = context(rec);
  const int r = restCount(k);
  const int cls = kClassOf[r + 1];
  const bool links = level == order_;
  if (r == 0) {
    k->block = allocateBlock(level, cls, rec);
  } else if (cls != kClassOf[r]) {
    const uint32_t fresh = allocateBlock(level, cls, rec);  // may move k's block
    const uint32_t old = k->block;
    std::memcpy(arena_ + fresh + 4, arena_ + old + 4, 4 * size_t(r));
    if (links) {
      std::memcpy(arena_ + fresh + 4 + 4 * kClassCapacity[cls],
                  arena_ + old + 4 + 4 * kClassCapacity[kClassOf[r]], 4 * size_t(r));
    }
    releaseBlock(level, old, kClassOf[r]);
    k->block = fresh;
  }
  Slot& slot = slots(k)[r];
  slot.symbol = s;
  slot.spare = 0;
  slot.freq = freq;
  k->numSymbols = static_cast<uint8_t>(k->numSymbols + 1);
  if (links) blockSuccessors(k)[r] = kNull;
}

uint32_t Model::takeContext(int level) {
  Level& lv = levels_[level];
  if (lv.contextFree) {
    uint32_t c = lv.contextFree;
    lv.contextFree = context(c)->chainNext;
    if (lv.contextFree) __builtin_prefetch(context(lv.contextFree));  // the next one's link
    return c;
  }
  // Records are handed out in array order until the pool is used up; the
  // order in which free records are reused does not change the output.
  uint32_t c = lv.contextBase + lv.contextsUsed * uint32_t(sizeof(Context));
  ++lv.contextsUsed;
  context(c)->lowerAndGeneration = 0;  // the generation is kept from here on, through every reuse
  return c;
}

void Model::collectGarbage(int level) {
  ++counters.garbageCollections;
  Level& lv = levels_[level];
  // The slots are read in order but their records lie anywhere: fetch the
  // first record of a slot well ahead, so that the misses overlap.
  // A chain's second record is fetched halfway, when its first has arrived.
  constexpr uint32_t kAhead = 32, kSecond = 16;
  for (uint32_t idx = uint32_t(lv.parity); idx < lv.tableSize; idx += 2) {
    if (idx + kAhead < lv.tableSize) {
      const uint32_t ahead = lv.buckets[idx + kAhead];
      if (ahead) __builtin_prefetch(context(ahead & ~kLinkBits), 1);
    }
    if (idx + kSecond < lv.tableSize) {
      const uint32_t first = lv.buckets[idx + kSecond];
      if (first & kMoreBit) {
        __builtin_prefetch(context(context(first & ~kLinkBits)->chainNext & ~kLinkBits), 1);
      }
    }
    uint32_t* at = &lv.buckets[idx];
    uint32_t* before = nullptr;  // the link to the record holding `at`
    uint32_t present = 0;
    while (*at) {
      const uint32_t cur = *at & ~kLinkBits;
      Context* c = context(cur);
      if (c->activity > 0) {
        present |= presenceBit(*at);
        c->activity >>= 1;
        before = at;
        at = &c->chainNext;
      } else {
        *at = c->chainNext;
        if (before && !*at) *before &= ~kMoreBit;
        c->chainNext = lv.contextFree;
        lv.contextFree = cur;
        c->sumFreq = 0;
        if (level == order_) c->lowerAndGeneration += 1u << kLinkIndexBits;
        const int rest = restCount(c);
        if (rest) {
          lv.nodesFree += uint32_t(rest);
          releaseBlock(level, c->block, kClassOf[rest]);
          c->block = kNull;
        }
      }
    }
    if (lv.presence) lv.presence[idx] = static_cast<uint8_t>(present);
  }
  // Links into the records freed here are now stale; their generation tags
  // tell them apart (see successorLink). The tags have 12 bits, so a record can
  // be freed at most 4095 times before a link to it must have been checked:
  // every 4095 passes, stale links are dropped as a whole-level scan would.
  if (level == order_ && ++lv.passesSinceScan == kGenerationPeriod) dropStaleSuccessors();
  lv.parity ^= 1;
}

// A successor link names a highest-level record by index + 1 (20 bits; 0 is
// null) and carries the record's generation (12 bits) from when it was made.
// The format drops a link as soon as a collection frees its record: a link
// whose tag no longer matches is exactly such a link.
uint32_t Model::successorLink(uint32_t rec) const {
  const uint32_t indexPlusOne = (rec - linkBase_) / uint32_t(sizeof(Context));  // a shift
  return indexPlusOne | (generationOf(context(rec)) << kLinkIndexBits);
}

uint32_t Model::linkedRecord(uint32_t link) const {
  return linkBase_ + (link & kIndexMask) * uint32_t(sizeof(Context));
}

uint32_t Model::successorRecord(uint32_t link) const {
  if (!link) return kNull;
  const uint32_t rec = linkedRecord(link);
  if ((link >> kLinkIndexBits) != generationOf(context(rec))) return kNull;
  return rec;
}

void Model::dropStaleSuccessors() {
  Level& lv = levels_[order_];
  lv.passesSinceScan = 0;
  for (uint32_t idx = 0; idx < lv.tableSize; ++idx) {
    for (uint32_t link = lv.buckets[idx]; link; link = context(link & ~kLinkBits)->chainNext) {
      Context* k = context(link & ~kLinkBits);
      if (k->successor && !successorRecord(k->successor)) k->successor = kNull;
      uint32_t* links = blockSuccessors(k);
      for (int i = 0, n = restCount(k); i < n; ++i) {
        if (links[i] && !successorRecord(links[i])) links[i] = kNull;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Lookup

// Within one of the format's buckets no two records share their context bytes, so
// a record is identified by its bytes plus, at level 7 with a pseudo order,
// the eighth or ninth byte back that chose its bucket. Records are filed in
// our own table under a well-mixed hash of that key, in a slot whose lowest
// bit is the format bucket's: the format's bucket function clusters badly on
// binary data, where a record sits changes nothing in the output, and the
// collector still finds each pass's half of the records in every other slot.
uint64_t Model::historyKey(int level) const {
  uint64_t key;
  std::memcpy(&key, history.h, 8);
  key &= levels_[level].keyMask;
  if (levels_[level].extra) key |= uint64_t(history.h[6 + pseudoOrder_]) << 56;
  return key;
}

// An escape from rec goes to its hinted record one level down: have it on
// its way while rec codes.
void Model::prefetchLower(uint32_t rec, int level) {
  const uint32_t hint = context(rec)->lowerAndGeneration & kIndexMask;
  const uint32_t base = lowerBase_[level];
  if (hint && base) __builtin_prefetch(context(base + hint * uint32_t(sizeof(Context))));
}

void Model::setLowerHint(uint32_t above, const Level& lv, uint32_t rec) {
  Context* a = context(above);
  a->lowerAndGeneration = (a->lowerAndGeneration & ~kIndexMask) | (recordIndex(lv, rec) + 1);
}

// Four bits of the key's hash just below those that chose the slot.
uint32_t Model::keyTag(const Level& lv, uint64_t key) {
  return uint32_t((key * kKeyHash) >> (lv.slotShift - 4)) & kTagMask;
}

inline uint32_t Model::lookupContext(uint32_t above) {
  // Down the walk to level 1, whose next level is 0.
  while (currentLevel_) {
    const int level = currentLevel_;
    Level& lv = levels_[level];
    const uint64_t key = historyKey(level);
    // After an escape, the record one level down is usually the one found
    // last time from the same record: a live record with our key is the one
    // the table would give (keys are unique within a level).
    const uint32_t hint = above ? context(above)->lowerAndGeneration & kIndexMask : 0;
    if (hint) {
      const uint32_t rec = lv.contextBase + (hint - 1) * uint32_t(sizeof(Context));
      const Context* c = context(rec);
      uint64_t have;
      std::memcpy(&have, c->contextBytes, 8);
      if (c->sumFreq && ((have ^ key) & lv.keyMask) == 0 &&
          (!lv.extra || lv.extra[hint - 1] == uint8_t(key >> 56))) {
        prefetchLower(rec, level);
        levelContext_[level] = rec;
        return rec;
      }
    }
    // Hashed only here (or by the step's prefetch): most steps are coded in
    // the remembered successor and never look a context up.
    const uint32_t idx = (slotReady_ >> level) & 1 ? slot_[level] : levelSlot(level, key);
    const uint32_t tag = keyTag(lv, key);
    uint8_t* const presence = lv.presence ? &lv.presence[idx] : nullptr;
    const uint32_t presenceMask = presenceBit(tag);
    const bool mayHold = !presence || (*presence & presenceMask);
    // A link carries its record's tag and whether a record follows, so the
    // walk reads a record only when its tag matches or to go on past it.
    uint32_t* at = &lv.buckets[idx];
    uint32_t* before = nullptr;  // the link to the record holding `at`
    for (uint32_t link = mayHold ? *at : 0; link;) {
      const uint32_t cur = link & ~kLinkBits;
      Context* c = context(cur);
      if ((link & kTagMask) == tag) {
        uint64_t have;
        std::memcpy(&have, c->contextBytes, 8);
        if (((have ^ key) & lv.keyMask) == 0 &&
            (!lv.extra || lv.extra[recordIndex(lv, cur)] == uint8_t(key >> 56))) {
          if (before) {  // to the front
            *at = c->chainNext;
            if (!*at) *before &= ~kMoreBit;
            c->chainNext = lv.buckets[idx];
            lv.buckets[idx] = link | kMoreBit;
          }
          if (above) setLowerHint(above, lv, cur);
          prefetchLower(cur, level);
          levelContext_[level] = cur;
          return cur;
        }
      }
      if (!(link & kMoreBit)) break;
      before = at;
      at = &c->chainNext;
      link = *at;
    }

    if (!lv.contextFree && lv.contextsUsed == lv.contextCapacity) {
      do {
        if (level == order_ && pendingRecord_) {
          setPendingSuccessor(kNull);
          pendingRecord_ = kNull;
        }
        collectGarbage(level);
      } while (!lv.contextFree);
    }
    const uint32_t rec = takeContext(level);
    Context* c = context(rec);
    if (mayHold) {
      c->chainNext = lv.buckets[idx];
      lv.buckets[idx] = rec | tag | (c->chainNext ? kMoreBit : 0);
    } else {  // the slot may still be on its way: linked in the update
      pendingHead_ = &lv.buckets[idx];
      pendingLink_ = rec | tag;
      __builtin_prefetch(pendingHead_, 1);
    }
    if (presence) *presence = static_cast<uint8_t>(*presence | presenceMask);
    std::memcpy(c->contextBytes, history.h,
                sizeof c->contextBytes);  // only `level` of them are read
    if (lv.extra) lv.extra[recordIndex(lv, rec)] = uint8_t(key >> 56);
    c->activity = kInitialActivity[level];
    c->sumFreq = 0;
    c->lowerAndGeneration &= ~kIndexMask;
    if (above) setLowerHint(above, lv, rec);
    above = rec;
    levelContext_[level] = rec;
    path_[pathLength_++] = PathEntry{uint8_t(level), false, 0};
    currentLevel_ = row_.nextLevel[level];
  }
  return kNull;
}

bool Model::presenceCoversChains() const {
  if (pendingHead_) return false;
  const Level& lv = levels_[order_];  // the one level with presence bytes
  for (uint32_t idx = 0; idx < lv.tableSize; ++idx) {
    uint32_t held = 0;
    for (uint32_t link = lv.buckets[idx]; link; link = context(link & ~kLinkBits)->chainNext)
      held |= presenceBit(link);
    if ((lv.presence[idx] & held) != held) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Coding in a context

int Model::escapeRow(int level) const { return level + 7 * (successRun_ > 16) + historyRow_; }

// Excludes every symbol of the first record of a step from the levels below.
void Model::excludeAll(const Context* k) {
  markExcluded(k);
  anyExcluded_ = true;
}

// Excludes every symbol of the record from the levels below. Only the masks
// are written: order 0, the one reader that needs the symbols themselves,
// collects them from the masks.
void Model::markExcluded(const Context* k) {
  uint8_t* const keep = keep_;
  keep[k->symbol] = 0;
  const Slot* sl = slots(k);
  VELT_UNROLL4
  for (int i = 0, rest = restCount(k); i < rest; ++i) keep[sl[i].symbol] = 0;
}

// The symbols excluded in this step, each once, into excludedList_.
int Model::collectExclusions() {
  int n = 0;
#if VELT_WIDE_SLOTS
  // 64 symbols a round: each round's loop end is one hard branch.
  uint64_t kept[4];
  wide::keptSymbols(keep_, kept);
  for (int q = 0; q < 4; ++q) {
    for (uint64_t bits = ~kept[q]; bits; bits &= bits - 1)
      excludedList_[n++] = static_cast<uint8_t>(64 * q + __builtin_ctzll(bits));
  }
#else
  for (int s = 0; s < 256; ++s) {
    excludedList_[n] = static_cast<uint8_t>(s);
    n += keep_[s] == 0;
  }
#endif
  return n;
}

void Model::clearExclusions() {
#if defined(__SSE2__)
  // Stores kept inline: memset (or the string store the compiler would turn
  // this loop into) pays a start-up cost larger than the 16 stores; the empty
  // asm hides the constant so the loop is not recognised as a memset.
  __m128i all = _mm_set1_epi32(-1);
#if defined(__GNUC__)
  __asm__("" : "+x"(all));
#endif
#if defined(__clang__)
#pragma unroll
#elif defined(__GNUC__)
#pragma GCC unroll 16
#endif
  for (size_t i = 0; i < 256; i += 16) _mm_store_si128(reinterpret_cast<__m128i*>(keep_ + i), all);
#else
  std::memset(keep_, 0xFF, sizeof keep_);
#endif
}

// A cell's first real use starts from half of its lower neighbour's counts
// (the neighbour may be the cell itself).
void seedFromNeighbour(EscapeCell& x, const EscapeCell& y) {
  x.succ = static_cast<uint16_t>(y.succ / 2 + 1);
  x.esc = static_cast<uint16_t>(x.esc + y.esc / 2);
}

template <bool kTop, class Side>
inline int Model::codeFirst(Side& side, uint32_t ctx, int level) {
  assert(kTop == (level == order_));
  Context* k = context(ctx);
  const int bucket = kCountBucket[k->numSymbols];
  const int cellIdx = sumClassCell(k->sumFreq);
  EscapeCell& x = cell(escapeRow(level), bucket, cellIdx);

  // 1. Escape estimate from the secondary escape cell.
  int32_t e;
  const uint32_t cellSum = uint32_t(x.esc) + x.succ;
  if (cellSum <= 32) {
    if (x.succ == 1)
      seedFromNeighbour(x, cell(escapeRow(level), bucket, cellIdx ? cellIdx - 1 : 0));
    e = 8 * k->numSymbols;
  } else {
    e = static_cast<int32_t>(uint32_t(x.esc) * k->sumFreq / x.succ);
    if (e > 300) e = (cellSum < 80) ? 300 : std::min(e, 1200);
    // Without branches: a jump in the escape estimate is rare but random. The
    // second test is the format's 4 * (e + 1) < prev after the first added
    // 1, and it cannot hold unless the first did.
    const int32_t prev = prevEscape_;
    e += (2 * e < prev) + 2 * (4 * e + 4 < prev);
    if (cellSum > 2000) {
      x.succ = static_cast<uint16_t>(x.succ - x.succ / 2);
      x.esc = static_cast<uint16_t>(x.esc / 2);
    }
  }

  // 2. Boost of the most recently coded symbol.
  const int m = k->lastCoded;  // position + 1
  int32_t boost = 0;
  uint16_t* boosted = &k->freq;  // boost is 0 unless it is set below
  if (m) {
    int shift = -1;
    if constexpr (kTop) {
      if (lastLevel_ == order_) {
        shift = missRun_ > 0 ? boostShift_ + missRun_
                             : (boostShift_ > 3 ? boostShift_ - 1 : boostShift_);
      }
    } else {
      shift = missRun_ > 0 ? boostShift_ : (boostShift_ > 0 ? boostShift_ - 1 : 0);
    }
    if (shift >= 0) {
      boosted = &freqAt(k, m - 1);
      boost = std::min<int32_t>((int32_t(*boosted) * 4) >> (shift & 31), 6143);
      *boosted = static_cast<uint16_t>(*boosted + boost);
    }
  }

  // 3. Level term.
  if (lastLevel_ < level) e += missRun_ > 0 ? 4 : 1;
  if (e == 0) e = 1;
  prevEscape_ = e;

  // 4. Text adjustments.
  if (text_.sparsePunctuation) {
    const uint8_t h0 = history.h[0];
    if (h0 == 0x20) e += 18;
    if (h0 == kCapitalMarker && text_.mostlyLowercase) e = 1;
    if (h0 == 0x0A && history.h[1 + text_.crlfLineEnds] == 0x20) e = 1;
    if (text_.crlfLineEnds && h0 == 0x0D) e = 1;
  }

  // 5. Code.
  const uint32_t symbolsTotal = uint32_t(k->sumFreq) + uint32_t(boost);
  const uint32_t total = symbolsTotal + uint32_t(e);
  Slot* sl = slots(k);
  const int rest = restCount(k);
  int found = -1;
  uint32_t cum = 0;
  uint16_t* hit = nullptr;  // the coded symbol's count
  if constexpr (Side::kDecode) {
    // Most symbols are found here, often in the first position: comparing
    // the scaled offset takes the target's division off their path.
    const uint32_t offset = side.rc.scaledTarget(total);
    const uint32_t unit = side.rc.unit();
    if (offset < symbolsTotal * unit) {
      if (offset < k->freq * unit) {
        found = 0;
        side.symbol = k->symbol;
        hit = &k->freq;
      } else {
        cum = k->freq;
#if VELT_WIDE_SLOTS
        if (rest >= wide::kMinSlots && wideSlots_) {
          found = wide::locateSlot(sl, rest, offset / unit, cum) + 1;
        } else
#endif
        {
          for (int i = 0; i < rest; ++i) {
            const uint32_t f = sl[i].freq;
            if (offset < (cum + f) * unit) {
              found = i + 1;
              break;
            }
            cum += f;
          }
        }
        if (found <= 0) throwCorrupt();
        side.symbol = sl[found - 1].symbol;
        hit = &sl[found - 1].freq;
      }
      side.rc.decodeUpdate(cum, *hit);
    } else {
      if (k->numSymbols == 0) throwCorrupt();  // all 256 symbols are here: no escape
      side.rc.decodeUpdate(symbolsTotal, uint32_t(e));
    }
  } else {
    if (k->symbol == side.symbol) {
      found = 0;
      hit = &k->freq;
    } else {
      cum = k->freq;
#if VELT_WIDE_SLOTS
      if (rest >= wide::kMinSlots && wideSlots_) {
        uint32_t before = 0;
        const int i = wide::findSlot(sl, rest, side.symbol, before);
        if (i >= 0) found = i + 1, hit = &sl[i].freq, cum += before;
      } else
#endif
      {
        for (int i = 0; i < rest; ++i) {
          if (sl[i].symbol == side.symbol) {
            found = i + 1;
            hit = &sl[i].freq;
            break;
          }
          cum += sl[i].freq;
        }
      }
    }
    if (found >= 0) side.rc.encode(cum, *hit, total);
    else side.rc.encode(symbolsTotal, uint32_t(e), total);
  }

  // The next step starts in the record that followed this symbol last time:
  // start fetching it while this one is updated.
  // Without one, it looks its top context up: have that slot on its way now.
  // A symbol found at the top always ends the step in finishFirst, which keeps
  // this link for the next step (a swap below moves it along with the symbol).
  if (kTop && found >= 0) {
    const uint32_t link = successorAt(k, found);
    fastLink_ = link;
    if (link) __builtin_prefetch(context(linkedRecord(link)));
    else if (!nextTopReady_) prepareTopSlot(side.symbol);
  }

  if (found < 0) {
    excludeAll(k);
    path_[pathLength_++] = PathEntry{uint8_t(level), false, 0};
    successRun_ = 0;
    ++missRun_;
    escapeMode_ = true;
    *boosted = static_cast<uint16_t>(*boosted - boost);
    x.esc = static_cast<uint16_t>(x.esc + 4);
    return -1;
  }

  ++successRun_;
  if (!m) {
    missRun_ = 1;
  } else {
    *boosted = static_cast<uint16_t>(*boosted - boost);
    if (k->numSymbols > 1) {
      if (found == m - 1) {
        ++hitCount_;
        missRun_ = 0;
      } else {
        ++missCount_;
        ++missRun_;
      }
    }
  }
  int named = found;
  if (found > 0) {
    uint16_t* before = &freqAt(k, found - 1);
    if (*before < *hit) {
      swapPositions(k, found - 1, found, kTop);
      named = found - 1;
      hit = before;
      if (pendingRecord_ == ctx && pendingPosition_ == found) pendingPosition_ = named;
    }
  }
  codedFreq_ = hit;
  x.succ = static_cast<uint16_t>(x.succ + 4);
  return named;
}

template <class Side>
bool Model::codeMasked(Side& side, uint32_t ctx, int level) {
  assert(level != order_);  // masks come from an escape, and the top codes first
  Context* k = context(ctx);
  const int bucket = kCountBucket[k->numSymbols];
  const int cellIdx = sumClassCell(k->sumFreq);
  EscapeCell& x = cell(escapeRow(level), bucket, cellIdx);

  int32_t e;
  const uint32_t cellSum = uint32_t(x.esc) + x.succ;
  if (cellSum <= 7) {
    if (x.succ == 1) {
      const int plainRow = level + historyRow_;
      seedFromNeighbour(x, cell(plainRow, bucket, cellIdx ? cellIdx - 1 : 0));
    }
    e = 8 * bucket + 8;
  } else {
    e = static_cast<int32_t>(uint32_t(x.esc) * k->sumFreq / x.succ);
    if (e == 0) e = 1;
    else if (e > 600) e = (cellSum < 140) ? 600 : std::min(e, 1530);
    const int32_t prev = prevEscape_;
    e += (2 * e < prev) + 3 * (4 * e + 4 < prev);
    if (cellSum > 2000) {
      x.succ = static_cast<uint16_t>(x.succ / 2 + 1);
      x.esc = static_cast<uint16_t>(x.esc / 2);
    }
  }

  const int m = k->lastCoded;  // position + 1
  int32_t boost = 0;
  uint16_t* boosted = &k->freq;  // boost is 0 unless it is set below
  if (m) {
    boosted = &freqAt(k, m - 1);
    boost = std::min<int32_t>((int32_t(*boosted) * 4) >> boostShift_, 6143);
    *boosted = static_cast<uint16_t>(*boosted + boost);
  }

  // Symbols excluded above take no room here.
  const Slot* sl = slots(k);
  const int rest = restCount(k);
  int found = -1;
  uint32_t cum = 0;
  uint16_t* hit = nullptr;  // the coded symbol's count
  if (!Side::kDecode && k->symbol == side.symbol) found = 0;
  const uint32_t visibleFirst = visibleFreq(k->symbol, k->freq);
  uint32_t visible = visibleFirst;
  wide::MaskedPass wide;
  const bool isWide = VELT_WIDE_MASKS && wideMasks_ && rest >= wide::kMinSlots;
#if VELT_WIDE_MASKS
  if (isWide) {
    wide.visible = visibleFirst;
    constexpr bool kFind = !Side::kDecode;
    if (wideMasks_ == 32) wide::maskedPassAvx2<kFind>(sl, rest, keep_, side.symbol, wide);
    else wide::maskedPass<kFind>(sl, rest, keep_, side.symbol, wide);
    if (kFind && wide.found >= 0) found = wide.found + 1, cum = wide.before;
    visible = wide.visible;
  }
#endif
  if (!isWide) {
    VELT_UNROLL4
    for (int i = 0; i < rest; ++i) {
      const uint8_t sym = sl[i].symbol;
      if constexpr (!Side::kDecode) {
        const bool match = sym == side.symbol;
        found = match ? i + 1 : found;
        cum = match ? visible : cum;
      }
      visible += visibleFreq(sym, sl[i].freq);
    }
  }
  const uint32_t total = visible + uint32_t(e);
  if constexpr (Side::kDecode) {
    const uint32_t t = side.rc.checkedTarget(total);
    if (t < visible) {
      cum = visibleFirst;
      if (t < cum) {
        found = 0;
        cum = 0;
      } else {
        // An excluded symbol counts 0, and t < cum + 0 never holds. The wide
        // pass's group ends skip to the group that holds t (t < visible, the
        // last group's end).
        int i = 0;
        if (isWide) {
          for (; t >= wide.groupEnd[i / 16]; i += 16) cum = wide.groupEnd[i / 16];
        }
        for (; i < rest; ++i) {
          const uint32_t f = visibleFreq(sl[i].symbol, sl[i].freq);
          if (t < cum + f) {
            found = i + 1;
            break;
          }
          cum += f;
        }
        if (found < 0) throwCorrupt();
      }
      side.symbol = found ? sl[found - 1].symbol : k->symbol;
      hit = &freqAt(k, found);
      side.rc.decodeUpdate(cum, *hit);
    } else {
      if (k->numSymbols == 0) throwCorrupt();  // all 256 symbols are here: no escape
      side.rc.decodeUpdate(visible, uint32_t(e));
    }
  } else {
    if (found >= 0) {
      hit = &freqAt(k, found);
      side.rc.encode(cum, *hit, total);
    } else {
      side.rc.encode(visible, uint32_t(e), total);
    }
  }

  *boosted = static_cast<uint16_t>(*boosted - boost);
  if (found < 0) {
    markExcluded(k);
    path_[pathLength_++] = PathEntry{uint8_t(level), false, 0};
    x.esc = static_cast<uint16_t>(x.esc + 1);
    return false;
  }
  x.succ = static_cast<uint16_t>(x.succ + 1);
  int named = found;
  if (found != 0 && *hit >= k->freq) {
    swapPositions(k, 0, found, false);
    named = 0;
    hit = &k->freq;
  }
  codedFreq_ = hit;
  path_[pathLength_++] = PathEntry{uint8_t(level), true, uint16_t(named)};
  return true;
}

// ---------------------------------------------------------------------------
// Order 0 and order -1

template <class Side>
void Model::codeOrder0(Side& side) {
  const int excludedCount = anyExcluded_ ? collectExclusions() : 0;
  // Widths of excluded slots take no room.
  int32_t excludedWidth = 0;
  for (int i = 0; i < excludedCount; ++i) excludedWidth += f0_[symbolSlot_[excludedList_[i]]] - 1;
  const int32_t total = z0_[0] - excludedWidth;

  if constexpr (Side::kDecode) {
    const uint32_t t = side.rc.checkedTarget(uint32_t(total));
    // Only the excluded slots' widths are set, and cleared again below (nothing
    // in between can throw): no pass over all 258 entries per symbol.
    int32_t* const widthAt = excludedWidthAt_;
    for (int i = 0; i < excludedCount; ++i) {
      const int slot = symbolSlot_[excludedList_[i]];
      widthAt[slot] = f0_[slot] - 1;
    }
    int32_t upTo = 0;  // excluded widths of slots 1..i
    int32_t before = total;
    int found = 257;
    int32_t low = 0;
    for (int i = 1; i <= 256; ++i) {
      upTo += widthAt[i];
      const int32_t d = z0_[i] - (excludedWidth - upTo);
      if (d <= int32_t(t)) {
        found = i;
        low = d;
        break;
      }
      before = d;
    }
    for (int i = 0; i < excludedCount; ++i) widthAt[symbolSlot_[excludedList_[i]]] = 0;
    if (found == 257) {
      side.rc.decodeUpdate(0, uint32_t(before));
      codeNewSymbol(side);
      updateOrder0(symbolSlot_[side.symbol]);
    } else {
      side.rc.decodeUpdate(uint32_t(low), uint32_t(before - low));
      side.symbol = slotSymbol_[found];
      ++codedAtLevel_[0];
      updateOrder0(found);
    }
  } else {
    const int slot = symbolSlot_[side.symbol];
    const int32_t width = f0_[slot] - 1;
    if (width == 0) {
      side.rc.encode(0, uint32_t(z0_[256]), uint32_t(total));
      codeNewSymbol(side);
    } else {
      int32_t above = 0;
      for (int i = 0; i < excludedCount; ++i) {
        const int s = symbolSlot_[excludedList_[i]];
        if (s > slot) above += f0_[s] - 1;
      }
      side.rc.encode(uint32_t(z0_[slot] - above), uint32_t(width), uint32_t(total));
      ++codedAtLevel_[0];
    }
    updateOrder0(slot);
  }
}

template <class Side>
void Model::codeNewSymbol(Side& side) {
  int s;
  if constexpr (Side::kDecode) {
    const uint32_t t = side.rc.checkedTarget(uint32_t(newTable_[0]));
    int lo = 1, hi = 257;  // smallest i with newTable_[i] <= t
    while (lo < hi) {
      const int mid = (lo + hi) / 2;
      if (newTable_[mid] <= int32_t(t)) hi = mid;
      else lo = mid + 1;
    }
    s = lo - 1;
    side.rc.decodeUpdate(uint32_t(newTable_[s + 1]), uint32_t(newTable_[s] - newTable_[s + 1]));
    side.symbol = static_cast<uint8_t>(s);
  } else {
    s = side.symbol;
    side.rc.encode(uint32_t(newTable_[s + 1]), uint32_t(newTable_[s] - newTable_[s + 1]),
                   uint32_t(newTable_[0]));
  }
  for (int j = 0; j <= s; ++j) --newTable_[j];
  if (newTable_[0] == 0) {
    const int32_t v = z0_[256];
    for (int j = 0; j <= 256; ++j) z0_[j] -= v;
  }
}

void Model::updateOrder0(int slot) {
  if ((codedAtLevel_[0] + 1) % 1024 == 0) {
    const uint32_t high = codedAtLevel_[order_];
    const uint32_t low = codedAtLevel_[0];
    if (low > 3 * high) rescaleLimit0_ = (low / (high + 1) <= 10) ? 6143 : 32767;
    else rescaleLimit0_ = 1407;
  }
  if (z0_[0] >= rescaleLimit0_) {
    if (z0_[256] > 1) --z0_[256];
    int32_t v = z0_[256];
    for (int m = 256; m >= 0; --m) {
      z0_[m] = v;
      f0_[m] = (f0_[m] + 2) / 2;
      v += f0_[m] - 1;
    }
  }
  int j = slot;
  if (f0_[j] == f0_[j - 1]) {
    int e = j - 1;
    while (e > 1 && f0_[e - 1] == f0_[j]) --e;
    const uint8_t a = slotSymbol_[e], b = slotSymbol_[j];
    slotSymbol_[e] = b;
    slotSymbol_[j] = a;
    symbolSlot_[b] = static_cast<uint16_t>(e);
    symbolSlot_[a] = static_cast<uint16_t>(j);
    j = e;
  }
  f0_[j] += 2;
  for (int m = 0; m < j; ++m) z0_[m] += 2;
}

// ---------------------------------------------------------------------------
// The step and the update

// The record that coded the symbol: its count goes up.
inline void Model::updateFound(uint32_t kOff, uint16_t rescaleLimit, uint8_t activityCap,
                               int position, uint16_t& freq) {
  Context* k = context(kOff);
  k->lastCoded = static_cast<uint16_t>(position + 1);
  const uint16_t sum = k->sumFreq;
  if (sum >= rescaleLimit) halveContext(k);
  freq = static_cast<uint16_t>(freq + 8);
  k->sumFreq = static_cast<uint16_t>(k->sumFreq + 8);
  const uint8_t activity = k->activity;
  k->activity = static_cast<uint8_t>(activity + 16 * (activity < activityCap));
}

// Most symbols are coded in the first record tried, with nothing escaped or
// created on the way: that update is done in place, without a path and
// without the call and the frame of the general one. That record is always
// the top level's (a lookup there either finds one or creates an empty one),
// and its coder has already fetched the next step's top slot if there is no
// successor to go to. The chain of successors moves on: fastLink_ (checked
// at the next step, while its record is fetched) was read by the coder, and
// is read again after a pending successor is filled in, which may be this
// position's.
inline void Model::finishFirst(uint32_t rec, int position) {
  // The top level is one of 4..7, which share a rescale limit: a constant
  // here, and the activity cap a member, spare the fast path two table loads.
  static_assert(kRescaleLimit[4] == kRescaleLimit[5] && kRescaleLimit[5] == kRescaleLimit[6] &&
                kRescaleLimit[6] == kRescaleLimit[7]);
  updateFound(rec, kRescaleLimit[4], topActivityCap_, position, *codedFreq_);
  if (pendingRecord_) {
    setPendingSuccessor(successorLink(rec));
    pendingRecord_ = kNull;
    fastLink_ = successorAt(context(rec), position);
  }
  ++codedAtLevel_[order_];
  lastLevel_ = order_;
}

// A step starts with no exclusions and an empty path: the steps that make
// them end in updateModel, which clears them.
template <class Side>
inline void Model::step(Side& side) {
  const uint32_t fs = successorRecord(fastLink_);
  if (fs) prefetchLower(fs, order_);
  historyRow_ = kRowShare[0][history.h[0]] + kRowShare[1][history.h[1]];

  // The top level's slot, fetched by the last update, is good if no stage
  // changed the history since.
  slotReady_ = 0;
  auto fetchSlot = [&](int level) {
    slot_[level] = levelSlot(level, historyKey(level));
    slotReady_ |= 1u << level;
    __builtin_prefetch(&levels_[level].buckets[slot_[level]]);
  };
  bool topAbsent = false;  // the top context is surely new
  if (nextTopReady_) {
    nextTopReady_ = false;
    if (!fs && historyKey(order_) == nextTopKey_) {
      slot_[order_] = nextTopSlot_;
      slotReady_ = 1u << order_;
      topAbsent = !fetchNextTopHead();
    }
  }
  // The encoder knows its symbol already, and after an escape the next step
  // likely looks its top context up too: that slot can be on its way for the
  // whole of this step instead of after it.
  const bool topSlotEarly = !Side::kDecode && lastLevel_ < order_;
  if (topSlotEarly) prepareTopSlot(side.symbol);
  if (topAbsent) {
    // A new top record has no hint to the level below: that level is hashed.
    fetchSlot(row_.nextLevel[order_]);
  } else if (lastLevel_ < order_ && !slotReady_) {
    // After an escape from the top level, the next escape is likely: fetch
    // the table slots of the next two levels to be looked up while the top
    // codes. (A top context the table holds has its hint to the level below.)
    int level = fs ? row_.nextLevel[order_] : order_;
    for (int i = 0; i < 2 && level > 0; ++i, level = row_.nextLevel[level]) fetchSlot(level);
  }

  uint32_t above = kNull;  // the record escaped from, whose lower hint the lookup may use
  if (fs) {
    const int position = codeFirst<true>(side, fs, order_);
    if (position >= 0) {
      finishFirst(fs, position);
      return;
    }
    above = fs;
    levelContext_[order_] = fs;
    currentLevel_ = row_.nextLevel[order_];
  } else {
    if (!firstDone_) {
      firstDone_ = true;
      codeNewSymbol(side);
      updateOrder0(symbolSlot_[side.symbol]);
      current_ = root_;
      lastLevel_ = 0;
      updateModel(side.symbol);
      return;
    }
    currentLevel_ = order_;
  }

  // A slot fetched when the step began has arrived by the end of the update:
  // the next step's first record can be on its way too.
  auto fetchTopHead = [&] {
    if (topSlotEarly) fetchNextTopHead();
  };
  for (;;) {
    const uint32_t rec = lookupContext(above);
    if (!rec) break;
    current_ = above = rec;
    bool found;
    if (escapeMode_) {
      found = codeMasked(side, rec, currentLevel_);
    } else {
      const int position = currentLevel_ == order_ ? codeFirst<true>(side, rec, order_)
                                                   : codeFirst<false>(side, rec, currentLevel_);
      found = position >= 0;
      if (found && pathLength_ == 0) {
        assert(currentLevel_ == order_);
        finishFirst(rec, position);
        return;
      }
      if (found) path_[pathLength_++] = PathEntry{uint8_t(currentLevel_), true, uint16_t(position)};
    }
    if (found) {
      ++codedAtLevel_[currentLevel_];
      lastLevel_ = currentLevel_;
      updateModel(side.symbol);
      fetchTopHead();
      return;
    }
    currentLevel_ = row_.nextLevel[currentLevel_];
  }

  current_ = root_;
  codeOrder0(side);
  lastLevel_ = 0;
  updateModel(side.symbol);
  fetchTopHead();
}

void Model::halveContext(Context* k) {
  k->freq = static_cast<uint16_t>(k->freq - (k->freq >> 1));
  uint32_t sum = k->freq;
  Slot* sl = slots(k);
  for (int i = 0, n = restCount(k); i < n; ++i) {
    sl[i].freq = static_cast<uint16_t>(sl[i].freq - (sl[i].freq >> 1));
    sum += sl[i].freq;
  }
  k->sumFreq = static_cast<uint16_t>(sum);
}

void Model::setPendingSuccessor(uint32_t link) {
  successorAt(context(pendingRecord_), pendingPosition_) = link;
}

// Puts the top record the lookup created without reading its slot at the
// head of its chain: at the end of the update, which gives the slot the
// longest time to arrive, or before the update collects the top level.
void Model::linkCreatedRecord() {
  Context* c = context(pendingLink_ & ~kLinkBits);
  c->chainNext = *pendingHead_;
  *pendingHead_ = pendingLink_ | (c->chainNext ? kMoreBit : 0);
  pendingHead_ = nullptr;
}

void Model::updateModel(uint8_t s) {
  const int length = pathLength_;
  pathLength_ = 0;
  escapeMode_ = false;
  if (anyExcluded_) {
    clearExclusions();
    anyExcluded_ = false;
  }
  // The one-record path is finishFirst's. Any other leaves the top level
  // without a successor (the symbol is new there): the next step looks its top
  // context up, so fetch that slot before the update's work rather than after
  // (the encoder may have done so when the step began).
  if (!nextTopReady_) prepareTopSlot(s);

  Context* r = context(current_);
  // The coded symbol's position in r; its count is read afresh each time,
  // since a block may move when another record grows.
  const int f = (length && path_[length - 1].found) ? path_[length - 1].position : -1;

  for (int i = 0; i < length; ++i) {
    const PathEntry& entry = path_[i];
    const int level = entry.level;
    const uint32_t kOff = levelContext_[level];
    Context* k = context(kOff);
    Level& lv = levels_[level];

    if (entry.found) {
      assert(level != order_);  // the top codes first: a find there is finishFirst's
      updateFound(kOff, kRescaleLimit[level], kActivityCap[level], entry.position,
                  freqAt(k, entry.position));
    } else if (k->sumFreq == 0) {
      int32_t freq;
      if (r->symbol == s) {
        freq = (int32_t(r->freq) * 16) / ((int32_t(r->sumFreq) >> 2) + r->numSymbols + 4) + 8;
      } else if (f >= 0) {
        const int32_t ff = freqAt(r, f);
        freq =
            std::min<int32_t>((ff * 32) / (2 * int32_t(r->numSymbols) - ff + r->sumFreq) + 8, 8191);
      } else {
        freq = 8;
      }
      k->symbol = s;
      k->freq = static_cast<uint16_t>(freq);
      k->successor = kNull;
      k->block = kNull;
      k->sumFreq = static_cast<uint16_t>(freq);
      k->numSymbols = 1;
      k->lastCoded = 0;
      if (level == order_) {
        if (pendingRecord_) setPendingSuccessor(successorLink(kOff));
        pendingRecord_ = kOff;
        pendingPosition_ = 0;
        fastLink_ = kNull;
      }
    } else if (lv.nodesFree) {
      if (k->numSymbols == 1) {
        k->freq = static_cast<uint16_t>(k->freq - (k->freq >> 4));
        k->sumFreq = k->freq;
      }
      if (k->numSymbols <= 2 && k->sumFreq > 180) halveContext(k);
      --lv.nodesFree;
      const int position = restCount(k) + 1;
      int32_t freq = 8;
      int32_t sum = k->sumFreq + 8;
      if (f >= 0) {
        const int32_t ff = freqAt(r, f);
        int32_t d;
        if (r->symbol == s) {
          d = (ff * 32) / ((int32_t(r->sumFreq) >> 2) + 8 * int32_t(r->numSymbols));
          k->lastCoded = static_cast<uint16_t>(position + 1);
        } else {
          int32_t kk = 2 * (int32_t(r->numSymbols) - int32_t(k->numSymbols));
          if (kk < 1) kk = 1;
          d = (ff * 16) / ((int32_t(r->sumFreq) >> 2) + kk);
          k->lastCoded = 0;
        }
        freq += d;
        sum += d;
      }
      appendSymbol(level, kOff, s, static_cast<uint16_t>(freq));
      k->sumFreq = static_cast<uint16_t>(sum);
      k->activity >>= 1;
      if (level == order_) {
        if (pendingRecord_) setPendingSuccessor(successorLink(kOff));
        pendingRecord_ = kOff;
        pendingPosition_ = position;
        fastLink_ = kNull;
      }
    } else {
      k->lastCoded = 0;
      if (level == order_) {
        if (pendingRecord_) {
          setPendingSuccessor(kNull);
          pendingRecord_ = kNull;
        }
        fastLink_ = kNull;
      }
      if (lv.nodesLinked < lv.nodeCapacity) {
        extendNodePool(level);
      } else {
        if (pendingHead_) linkCreatedRecord();
        do collectGarbage(level);
        while (!lv.nodesFree);
      }
    }
  }
  if (pendingHead_) linkCreatedRecord();
}

// Starts fetching the first record of the next top slot (prepareTopSlot's),
// unless its presence byte proves the next top context absent: false then.
inline bool Model::fetchNextTopHead() {
  const Level& lv = levels_[order_];
  if (!(lv.presence[nextTopSlot_] & nextTopPresence_)) return false;
  const uint32_t head = lv.buckets[nextTopSlot_];
  if (head) __builtin_prefetch(context(head & ~kLinkBits));
  return true;
}

// With no successor to go to, the next step looks its top context up: hash
// it now, as if s were already in the history, and start fetching the slot
// while the stages do their work.
inline void Model::prepareTopSlot(uint8_t s) {
  const Level& lv = levels_[order_];
  // The next history is s followed by the present one. Its key is built in a
  // register: writing s and the bytes apart, then reading them as one word,
  // would stall on store forwarding.
  uint8_t next[16];
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t low;
  std::memcpy(&low, history.h, 8);
  const uint64_t first = (low << 8) | s;
  const uint64_t second = (low >> 56) | uint64_t(history.h[8]) << 8 | uint64_t(history.h[9]) << 16;
  std::memcpy(next, &first, 8);
  std::memcpy(next + 8, &second, 8);
  uint64_t key = first & lv.keyMask;
#else
  next[0] = s;
  std::memcpy(next + 1, history.h, sizeof history.h);
  uint64_t key;
  std::memcpy(&key, next, 8);
  key &= lv.keyMask;
#endif
  if (lv.extra) key |= uint64_t(next[6 + pseudoOrder_]) << 56;
  nextTopKey_ = key;
  nextTopSlot_ = tableSlot(lv, key, lv.bucketBit(next));
  nextTopPresence_ = presenceBit(keyTag(lv, key));
  nextTopReady_ = true;
  __builtin_prefetch(&lv.buckets[nextTopSlot_]);
  __builtin_prefetch(&lv.presence[nextTopSlot_]);
}

void Model::encodeByte(RangeEncoder& rc, uint8_t s) {
  EncodeSide side{rc, s};
  step(side);
}

uint8_t Model::decodeByte(RangeDecoder& rc) {
  DecodeSide side{rc};
  step(side);
  return side.symbol;
}

void Model::adaptBoostShift() {
  const int32_t v = missCount_ + hitCount_;
  if (v <= 50) {
    boostShift_ = 4;
    return;
  }
  boostShift_ = kShiftByMissRate[(100 * missCount_ + 100) / (v + 2)];
  if (v > 365) {
    missCount_ /= 2;
    hitCount_ /= 2;
  }
}

void Model::breakSuccessorChain() {
  if (pendingRecord_) {
    setPendingSuccessor(kNull);
    pendingRecord_ = kNull;
  }
  fastLink_ = kNull;
}

}  // namespace velt::model
