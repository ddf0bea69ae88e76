// The audio thread never allocates or frees in steady operation: every operator new and delete
// of this test program is counted while process runs, across notes, parameter events, MIDI and
// table hand-overs made by the main thread between blocks.

#include <atomic>
#include <cstdlib>
#include <new>

#include "core/table_data.hpp"
#include "fixture.hpp"

namespace {

std::atomic<long> heap_calls{0};
thread_local bool counting = false;

void* allocate(std::size_t n) {
  if (counting) ++heap_calls;
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
void release(void* p) noexcept {
  if (counting && p != nullptr) ++heap_calls;
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) {
  return allocate(n);
}
void* operator new[](std::size_t n) {
  return allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept {
  release(p);
}
void operator delete[](void* p) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  release(p);
}

namespace quillory::test {
namespace {

using host::midi_event;
using host::note_event;
using host::param_event;

// Runs one block with heap calls counted; gives how many there were.
long counted_block(Running& r, std::uint32_t frames) {
  const long before = heap_calls.load();
  counting = true;
  const clap_process_t& process = r.block.prepare(frames, r.in, r.out);
  r.plugin->process(r.plugin, &process);
  counting = false;
  r.in.clear();
  r.out.clear();
  return heap_calls.load() - before;
}

TEST(Allocation, CounterSeesThePluginsAllocations) {
  for (bool in_process : {true, false}) {
    Module module = open_module();  // loaded before counting starts
    const plugin::Factory local = plugin::Factory::create();
    const clap_plugin_factory_t* factory = in_process ? &local.clap : module.plugin_factory();
    Host host;
    const long before = heap_calls.load();
    counting = true;
    const clap_plugin_t* p = factory->create_plugin(factory, host.clap(), plugin::plugin_id);
    p->init(p);
    p->destroy(p);
    counting = false;
    EXPECT_GT(heap_calls.load() - before, 0) << "the counter must see the instance being built";
  }
}

TEST(Allocation, NoneAcrossManyProcessCalls) {
  Running r(512, 48000.0, /*in_process=*/true);
  r.in.reserve(64);
  r.out.reserve(256);
  core::Core& core = *r.self().shared->core;
  core::TableData base = core.tables.table_data();

  long calls = 0;
  for (int block = 0; block < 400; ++block) {
    const std::uint32_t frames = 1 + static_cast<std::uint32_t>(block * 37 % 512);
    const auto key = static_cast<std::int16_t>(36 + block % 48);
    r.in.push(note_event(CLAP_EVENT_NOTE_ON, 0, key, 0.9).header);
    r.in.push(param_event(frames / 2, 201, 200.0 + block * 10).header);
    r.in.push(param_event(frames / 2, 1, (block % 10) / 10.0).header);
    r.in.push(midi_event(frames / 3, 0xB0, 1, static_cast<std::uint8_t>(block % 128)).header);
    r.in.push(midi_event(frames / 3, 0xE0, 0, static_cast<std::uint8_t>(block % 128)).header);
    r.in.push(
        note_event(CLAP_EVENT_NOTE_OFF, frames - 1, static_cast<std::int16_t>(key - 12), 0).header);
    if (block % 25 == 0) {  // main thread, between blocks: a new table, an editor edit, a command
      base.name = "table " + std::to_string(block);
      ASSERT_TRUE(core.tables.install(base));
      core.params.set_from_editor(16, static_cast<float>(block % 7) / 7.0f);
      core.command(core::Command::note_on(72, 1.0f));
    }
    calls += counted_block(r, frames);
  }
  EXPECT_EQ(calls, 0);
}

TEST(Allocation, NoneThroughTheLoadedModuleEither) {
  // The same through dlopen: the module's operator new resolves to this program's.
  Running r(256);
  r.in.reserve(8);
  long calls = 0;
  for (int block = 0; block < 200; ++block) {
    r.in.push(
        note_event(CLAP_EVENT_NOTE_ON, 10, static_cast<std::int16_t>(48 + block % 24), 1).header);
    r.in.push(param_event(20, 15, block % 3).header);
    calls += counted_block(r, 256);
  }
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace quillory::test
