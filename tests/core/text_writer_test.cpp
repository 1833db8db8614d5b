#include "writer/text_writer.h"

#include "config_builder.h"
#include "tree_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/spare.h"
#include "tree/tree_writer.h"

namespace vardelquin {
namespace {

using testing::make_config;

const FormatConfig defaults = make_config();

// What a walker hands the writer, one call per element.
std::string written(const std::function<void(TextWriter&)>& walk, const FormatConfig& config = defaults) {
  OutputBuffer out;
  {
    // Leased, so that each test also writes with the storage the last one
    // gave back.
    const spare::Lease<TextWriter::Storage> storage;
    TextWriter writer(config, out, *storage);
    walk(writer);
  }
  return std::string(out.view());
}

// Members met out of order come out in byte order of their keys, as the
// raw keys compare, not as their escaped text would; of equal keys the
// last met stays, in its sorted place. The top level keeps its order and
// its duplicates.
TEST(TextWriterTest, ObjectsComeOutInKeyOrder) {
  const struct {
    std::vector<std::string> keys;  // member i has the value i
    std::string expected;
  } cases[] = {
      {{}, "{}"},
      {{"b", "a", "B", ""}, "{=3;B=2;a=1;b=0}"},
      {{"k", "j", "k"}, "{j=1;k=2}"},
      {{"k", "k", "k"}, "{k=2}"},
      {{"a<", "a;"}, "{a\\;=1;a<=0}"},  // ';' < '<', while '\\' > '<'
      {{"a]", "a\\"}, "{a\\\\=1;a\\]=0}"},
      {{std::string("a\0", 2), "a", "", std::string("\0", 1)},
       "{=2;" + std::string("\0", 1) + "=3;a=1;" + std::string("a\0", 2) + "=0}"},
      {{"prefix-long-b", "prefix-long-a", "prefix-l", "prefix-long", "prefix-long-a"},
       "{prefix-l=2;prefix-long=3;prefix-long-a=4;prefix-long-b=0}"},
      {{"\xC3\xA9", "z", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"},
       "{z=1;\xC3\xA9=0;\xE2\x82\xAC=2;\xF0\x9F\x98\x80=3}"},
      // Keys met in order, or nearly: the order is told from their first
      // sixteen bytes and sizes, and from the whole keys past that.
      {{"a", std::string("a\0", 2)}, "{a=0;" + std::string("a\0", 2) + "=1}"},
      {{"x", "y", "z", "y"}, "{x=0;y=3;z=2}"},
      {{"abcdefgh", "abcdefghi", std::string("abcdefgh\0", 9)},
       "{abcdefgh=0;" + std::string("abcdefgh\0", 9) + "=2;abcdefghi=1}"},
      {{"0123456789abcdef-1", "0123456789abcdef-2", "0123456789abcdef"},
       "{0123456789abcdef=2;0123456789abcdef-1=0;0123456789abcdef-2=1}"},
      {{"0123456789abcdef", "0123456789abcdef-1", "0123456789abcdef-1"},
       "{0123456789abcdef=0;0123456789abcdef-1=2}"},
      {{"a;", "a<", "a<"}, "{a\\;=0;a<=2}"},
  };
  for (const auto& c : cases) {
    const std::string text = written([&](TextWriter& w) {
      w.entry("o");
      w.open_object();
      for (std::size_t i = 0; i < c.keys.size(); ++i) {
        w.member(c.keys[i]);
        w.integer(static_cast<std::int64_t>(i));
      }
      w.close();
      w.entry("t");
      w.null();
      w.entry("t");
      w.boolean(false);
    });
    EXPECT_EQ(text, "o=" + c.expected + ";t=null;t=false;");
  }
}

// Inner objects are put in order first, and the outer one then moves their
// finished text as a whole, through lists and at every level.
TEST(TextWriterTest, NestedObjectsInsideListsInsideObjects) {
  const std::string text = written([](TextWriter& w) {
    w.entry("x");
    w.open_object();
    w.member("z");
    w.open_list();
    w.open_object();
    w.member("b");
    w.string("2;");
    w.member("a");
    w.open_list();
    w.close();
    w.close();
    w.integer(7);
    w.close();
    w.member("a");
    w.open_object();
    w.member("d");
    w.open_object();
    w.member("y");
    w.floating(0.5);
    w.member("x");
    w.open_object();
    w.close();
    w.member("y");
    w.floating(1.5);
    w.close();
    w.member("c");
    w.null();
    w.close();
    w.close();
  });
  EXPECT_EQ(text, "x={a={c=null;d={x={};y=1.5}};z=[{a=[];b=2\\;}|7]};");
}

// Objects out of order nested deep, each with large members of its own
// and a key met twice, some through lists, inside an object in order with
// others beside them: every level comes out sorted, the text between the
// outermost rearranged objects closes up behind those that dropped a key,
// and the entries after them are untouched.
TEST(TextWriterTest, DeepNestingOfRearrangedObjectsWithLargeMembers) {
  constexpr int depth = 200;
  const auto big = [](int level) {
    return std::string(static_cast<std::size_t>(1000 + level), static_cast<char>('a' + level % 26));
  };
  std::string inner = "end";
  for (int level = 0; level < depth; ++level) {
    const std::string nested = level % 3 == 1 ? "[" + inner + "|" + std::to_string(level) + "]" : inner;
    inner = "{a=" + std::to_string(level) + ";m=" + big(level) + ";z=" + nested + "}";
  }
  const std::string side = "{b=1;c=" + big(7) + "}";
  const std::string expected = "x={a=" + inner + ";b=" + side + ";c=" + inner + "};y=" + side + ";";

  const std::function<void(TextWriter&, int)> nest = [&](TextWriter& w, int level) {
    if (level < 0) {
      w.string("end");
      return;
    }
    w.open_object();
    w.member("z");
    if (level % 3 == 1) {
      w.open_list();
      nest(w, level - 1);
      w.integer(level);
      w.close();
    } else {
      nest(w, level - 1);
    }
    w.member("a");
    w.integer(-1);
    w.member("m");
    w.string(big(level));
    w.member("a");
    w.integer(level);
    w.close();
  };
  const auto side_object = [&](TextWriter& w) {
    w.open_object();
    w.member("c");
    w.string(big(7));
    w.member("b");
    w.integer(1);
    w.close();
  };
  const std::string text = written([&](TextWriter& w) {
    w.entry("x");
    w.open_object();
    w.member("a");
    nest(w, depth - 1);
    w.member("b");
    side_object(w);
    w.member("c");
    nest(w, depth - 1);
    w.close();
    w.entry("y");
    side_object(w);
  });
  ASSERT_EQ(text.size(), expected.size());
  EXPECT_TRUE(text == expected);
}

// Random trees, each member met in a random order with some keys met
// twice, against the tree of the same members (make_object sorts them and
// keeps the last of equal keys), which the writer writes without moving
// anything. Long values make the moved text span many buffer growths.
class RandomTree {
 public:
  explicit RandomTree(unsigned seed) : random_(seed) {}

  // Writes a value into `w` and returns the same value as a tree.
  Value value(TextWriter& w, int depth) {
    switch (depth > 3 ? random_() % 3 : random_() % 5) {
      case 0: {
        const auto i = static_cast<std::int64_t>(random_() % 1000) - 500;
        w.integer(i);
        return Value::integer(i);
      }
      case 1: {
        const std::string s = text(random_() % 8 == 0 ? 3000 : 6);
        w.string(s);
        return testing::str(s);
      }
      case 2: w.null(); return Value::null();
      case 3: {
        w.open_list();
        std::vector<Value> items;
        for (auto n = random_() % 4; n > 0; --n) items.push_back(value(w, depth + 1));
        w.close();
        return testing::list(items);
      }
      default: {
        w.open_object();
        std::vector<Member> members;
        for (auto n = random_() % 12; n > 0; --n) {
          const std::string key = random_() % 4 == 0 && !members.empty()
                                      ? std::string(members[random_() % members.size()].key)
                                      : text(random_() % 12);
          w.member(key);
          members.push_back(Member{testing::arena().copy(key), value(w, depth + 1)});
        }
        w.close();
        return make_object(testing::arena(), members);
      }
    }
  }

 private:
  std::string text(std::size_t size) {
    static constexpr char alphabet[] = "ab;=\\{}|\xC3\xA9";
    std::string s;
    for (std::size_t i = 0; i < size; ++i) s.push_back(alphabet[random_() % (sizeof alphabet - 1)]);
    return s;
  }

  std::mt19937 random_;
};

TEST(TextWriterTest, RearrangedObjectsMatchTheirSortedTrees) {
  for (unsigned seed = 0; seed < 300; ++seed) {
    RandomTree tree(seed);
    Document expected;
    const std::string text = written([&](TextWriter& w) {
      for (int entry = 0; entry < 3; ++entry) {
        w.entry("e");
        expected.append("e", tree.value(w, 0));
      }
    });
    ASSERT_EQ(text, write_document(expected, defaults).view()) << seed;
  }
}

// Objects of a few shapes, again and again, in one writer and the next:
// the order found for one shape serves the next object of that shape only,
// not one whose keys differ past their sixteenth byte, in their length, or
// in whether a key repeats.
TEST(TextWriterTest, ObjectsOfRepeatedShapes) {
  const std::vector<std::vector<std::string>> shapes = {
      {"profile_background_color", "id", "profile_background_colour", "a;"},
      {"profile_background_colour", "id", "profile_background_color", "a;"},
      {"profile_background_color", "id", "profile_background_color", "a;"},
      {"id", "a;", "ab", "a"},
      {"id", "a;", "ab", "a", ""},
      {"id", "a<", "ab", "a"},
  };
  for (int call = 0; call < 2; ++call) {
    Document expected;
    const std::string text = written([&](TextWriter& w) {
      for (std::size_t n = 0; n < 60; ++n) {
        const std::vector<std::string>& keys = shapes[(n * 7) % shapes.size()];
        std::vector<Member> members;
        w.entry("e");
        w.open_object();
        for (std::size_t i = 0; i < keys.size(); ++i) {
          const auto value = static_cast<std::int64_t>(n * 10 + i);
          w.member(keys[i]);
          w.integer(value);
          members.push_back(Member{testing::arena().copy(keys[i]), Value::integer(value)});
        }
        w.close();
        expected.append("e", make_object(testing::arena(), members));
      }
    });
    ASSERT_EQ(text, write_document(expected, defaults).view()) << call;
  }
}

}  // namespace
}  // namespace vardelquin
