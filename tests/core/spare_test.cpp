#include "support/spare.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/arena.h"

namespace vardelquin {
namespace {

struct Storage {
  std::vector<int> numbers;
  std::string text;
  int given_back = 0;

  void give_back() noexcept {
    spare::empty(numbers);
    spare::empty(text);
    ++given_back;
  }
};

TEST(Lease, GivesTheThreadsStorageBackEmptiedAndTakesItAgain) {
  const int* kept = nullptr;
  int given_back = 0;
  {
    const spare::Lease<Storage> lease;
    given_back = lease->given_back;
    lease->numbers.assign(100, 7);
    kept = lease->numbers.data();
  }
  const spare::Lease<Storage> again;
  EXPECT_EQ(again->given_back, given_back + 1);
  EXPECT_TRUE(again->numbers.empty());
  EXPECT_EQ(again->numbers.data(), kept);  // the same buffer, kept
}

TEST(Lease, FreesABufferThatGrewPastWhatIsKept) {
  {
    const spare::Lease<Storage> lease;
    lease->text.assign(spare::kept_bytes + 1, 'x');
  }
  const spare::Lease<Storage> again;
  EXPECT_LE(again->text.capacity(), spare::kept_bytes);
}

TEST(Lease, KeepsABufferUpToTheBoundItIsEmptiedWith) {
  const struct {
    std::size_t size;
    bool kept;
  } cases[] = {
      {spare::kept_bytes + 1, true}, {spare::kept_output_bytes, true}, {spare::kept_output_bytes + 1, false}};
  for (const auto& [size, kept] : cases) {
    std::vector<char> text(size, 'x');  // a vector's capacity is its size here
    spare::empty(text, spare::kept_output_bytes);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(text.capacity() == size, kept) << size;
  }
}

TEST(Lease, AReenteredCallAndAnotherThreadGetStorageOfTheirOwn) {
  const spare::Lease<Storage> outer;
  outer->numbers.push_back(1);
  {
    const spare::Lease<Storage> inner;
    EXPECT_NE(&*inner, &*outer);
    EXPECT_TRUE(inner->numbers.empty());
    inner->numbers.push_back(2);
  }
  const Storage* other = nullptr;
  std::thread([&] {
    const spare::Lease<Storage> lease;
    other = &*lease;
  }).join();
  EXPECT_NE(other, &*outer);
  EXPECT_EQ(outer->numbers, std::vector<int>{1});
}

struct Counted {
  static inline std::atomic<int> alive = 0;
  Counted() noexcept { ++alive; }
  ~Counted() { --alive; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
  void give_back() noexcept {}
};

TEST(Lease, AThreadsStorageIsFreedWhenTheThreadExits) {
  const int before = Counted::alive;
  std::thread([&] {
    const spare::Lease<Counted> lease;
    EXPECT_TRUE(lease.ready());
    EXPECT_EQ(Counted::alive, before + 1);
  }).join();
  EXPECT_EQ(Counted::alive, before);
}

TEST(Arena, ClearKeepsOneFirstBlockForTheNextUse) {
  Arena arena;
  const char* first = arena.copy(std::string_view("key")).data();
  for (int i = 0; i < 10000; ++i) (void)arena.copy(std::string_view("a longer key than that"));
  arena.clear();
  EXPECT_EQ(arena.copy(std::string_view("key")).data(), first);
}

}  // namespace
}  // namespace vardelquin
