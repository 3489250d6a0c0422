#include "hbaapi_bridge/render.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hbaapi_bridge/params.h"

namespace tavro {
namespace {

class HbaRender : public ::testing::Test {
 protected:
  void SetUp() override { hbaapi_count_fields(counts, nullptr); }

  std::string assemble(const std::vector<HbaOutput>& outputs, long long field) {
    char out[4097];
    hbaapi_assemble(outputs, field, counts, nullptr, out, sizeof out);
    return out;
  }

  HbaFieldCounts counts{};
};

// Every fourth byte zero (ending the texts, which lie on 4-byte bounds), the
// others distinct, so that a wrong offset, type or count shows.
std::vector<unsigned char> patterned(std::size_t size) {
  const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = i % 4 == 3 ? 0 : digits[(i - i / 4) % 62];
  return bytes;
}

TEST_F(HbaRender, EveryEntryOfAPatternFilledOutput) {
  EXPECT_EQ(hbaapi_field_count(counts, 'Z'), 0);
  EXPECT_EQ(hbaapi_field_count(counts, '\0'), 0);
  const std::pair<char, std::string> kRendered[] = {
      {'A', "012|mno|YZa|efg|6B6C6D006E6F7000|qrs|wxy|234|89A|EFG|4B4C4D00|5263182|QRS"},
      {'B',
       "3289392|36373800|9AB|4736838|4934217|5131596|51504F|5253540055565700|58595A00616"
       "26300|676869006A6B6C00|6F6E6D"},
      {'C', "012"},
      {'E', "00323130|33343500363738003941420043444500"},
      {'l', "00323130|353433"},
      {'r', "00323130|353433|00383736"},
      {'p', "00323130|00353433:00383736:00424139:00454443"},
      {'G', ""},
      {'H', "00323130"},
      {'I',
       "3031320033343500|00383736|00424139|4539459|4647|4800|494A4B004C4D4E004F505100525"
       "35400|5700"},
      {'L', "3031320033343500"},
      {'M',
       "3289392|678|4539459|4736838|4934217|51504F|5253540055565700|58595A0061626300|676"
       "869006A6B6C00"},
      {'N', ""},
      {'P',
       "3031320033343500|3637380039414200|454443|00484746|004B4A49|004E4D4C|4F5051005253"
       "54005556570058595A006162630064656600676869006A6B6C00|6D6E6F007071720073747500767"
       "77800797A3000313233003435360037383900|ABC|GHI|004F4E4D|00525150|00555453|5657580"
       "0595A6100|6579042"},
      {'R',
       "303132003334350036373800394142004344450046474800494A4B004C4D4E004F50510052535400"
       "5556570058595A006162630064656600676869006A6B6C00"},
      {'S', "3289392"},
      {'T',
       "14975567416930608|18649061535528758|20344564300989507|22040037001218633|23735509"
       "701447759|25430982401676885|28821927802135137|30517400502364263|3221287320259338"
       "9|33908345902822515|14410409850206841|16105882550416692|19779406734246465|214748"
       "79434475591|23170352134704717"},
      {'U', "00323130"},
      {'u', "3289392"},
      {'V', "30"},
      {'W', "3031320033343500"},
      {'Y', "30313200"},
      {'Z', "UNKNOWN_TYPE(Z)"},
  };
  const std::vector<unsigned char> unterminated(4, 'x');
  for (const auto& [letter, text] : kRendered) {
    const std::size_t size = hbaapi_output_size(letter);
    const auto bytes = patterned(size > 0 ? size : 64);
    EXPECT_EQ(assemble({{letter, bytes.data(), bytes.size()}}, 0), text) << letter;
  }
  EXPECT_EQ(assemble({{'C', unterminated.data(), unterminated.size()}}, 0), "xxxx");
}

// One field of the port attributes; a bar inside a text shifts the later
// fields.
TEST_F(HbaRender, OneFieldOfThePortAttributes) {
  const struct {
    bool bar;
    long long field;
    const char* text;
  } kCases[] = {
      {false, 9, "ABC"},
      {false, 15, "6579042"},
      {false, 16, "Error: Field Index Out of Range (16)"},
      {false, -1, "Error: Field Index Out of Range (-1)"},
      {true, 9, "A"},
      {true, 10, "C"},
      {true, 15, "56575800595A6100"},
  };
  for (const auto& c : kCases) {
    auto p = patterned(632);
    if (c.bar) p[97] = '|';
    EXPECT_EQ(assemble({{'P', p.data(), p.size()}}, c.field), c.text) << c.bar << " " << c.field;
  }
}

}  // namespace
}  // namespace tavro
