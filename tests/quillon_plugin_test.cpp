// libquillon.so: how its pages are asked (by the offset of their first result) and its link rule,
// the two things only Quillon does. Its runs in the scenarios both engines share are in
// plugin_run_test.cpp.
#include <gtest/gtest.h>

#include "tests/engine_fixture.h"

namespace testsupport {

namespace {

// Page 1 is the search form's URL; every later page names the offset of its first result.
std::string QuillonPage(const std::string& q, int page, int /*results*/) {
    if (page == 1) return "http://search.quillon.example/search?cat=web&cs=utf-8&l=any&q=" + q;
    return "http://search.quillon.example/search?q=" + q +
           "&c=web&cs=utf-8&o=" + std::to_string((page - 1) * 10) + "&l=any";
}

}  // namespace

const EngineCase kQuillon{.name = "Quillon",
                          .lib = QUILLON_LIB,
                          .engine = enginesim::Engine::Quillon,
                          .perPage = 10,
                          .dropsScheme = true,
                          .pageUrl = QuillonPage};

}  // namespace testsupport

namespace {

using namespace testsupport;

class Quillon : public EngineFixture {
  protected:
    Quillon() : EngineFixture(kQuillon) {}
};

TEST_F(Quillon, PagesAreAskedByTheOffsetOfTheirFirstResult) {
    Setup("red shoes").results = 35;
    SetScenario();
    Keywords({"red shoes"});
    ASSERT_TRUE(Plugin().Run());
    const std::string base = "http://search.quillon.example/search?";
    EXPECT_EQ(RequestedUrls(), (V{base + "cat=web&cs=utf-8&l=any&q=red+shoes",
                                  base + "q=red+shoes&c=web&cs=utf-8&o=10&l=any",
                                  base + "q=red+shoes&c=web&cs=utf-8&o=20&l=any",
                                  base + "q=red+shoes&c=web&cs=utf-8&o=30&l=any"}));
    EXPECT_EQ(Progress()[3], base + "q=red+shoes&c=web&cs=utf-8&o=40&l=any");
}

TEST_F(Quillon, LinkRuleDropsTheSchemeAndOneTrailingSlash) {
    EXPECT_EQ(LinksUnderTheLinkRule(),
              (V{"www.one.example/a", "www.two.example/b/", "www.three.example/?u=http://x",
                 "HTTP://www.four.example"}));
}

}  // namespace
