// Parameters, the parameter store and parameter blocks as read and written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/params.h"
#include "foundation/textconv.h"
#include "test_commands.h"
#include "test_streams.h"

namespace tarvixlib {
namespace commands {
namespace {

using testing_::ContentOf;
using testing_::LimitData;
using testing_::LimitedSink;
using testing_::SpillFolder;
using testing_::StreamOf;

// ---- accepted value texts ----

struct NumberCase {
  const char* text;
  bool ok;
  uint64_t value;  // the value read (bit pattern of the type), when ok
};

template <typename T>
void CheckNumbers(const std::vector<NumberCase>& cases) {
  for (const NumberCase& c : cases) {
    T value = T(99);
    bool ok = CParamTraits<T>::Parse(c.text, &value);
    EXPECT_EQ(ok, c.ok) << "'" << c.text << "'";
    if (c.ok)
      EXPECT_EQ(value, static_cast<T>(c.value)) << "'" << c.text << "'";
    else
      EXPECT_EQ(value, T(99)) << "a refused text leaves the value: '" << c.text << "'";
  }
}

TEST(ParamValues, SignedAcceptsOneSignThenDigitsAndWraps) {
  CheckNumbers<int32_t>({
      {"0", true, 0},
      {"+42", true, 42},
      {"-42", true, static_cast<uint64_t>(-42)},
      {"-2147483648", true, static_cast<uint64_t>(INT32_MIN)},
      {"2147483648", true, static_cast<uint64_t>(INT32_MIN)},  // wraps
      {"4294967297", true, 1},
      {"007", true, 7},
      {"", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"--1", false, 0},
      {"+-1", false, 0},
      {"4x", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"0x10", false, 0},
  });
}

TEST(ParamValues, UnsignedRefuseMinusAndWrapInTheirWidth) {
  CheckNumbers<uint32_t>({
      {"+42", true, 42},
      {"4294967295", true, 4294967295u},
      {"4294967296", true, 0},
      {"4294967301", true, 5},
      {"-1", false, 0},
      {"-0", false, 0},
      {"4x", false, 0},
      {"", false, 0},
      {"+", false, 0},
  });
  CheckNumbers<uint8_t>({
      {"255", true, 255},
      {"256", true, 0},
      {"+300", true, 44},
      {"-1", false, 0},
      {"1.5", false, 0},
  });
  CheckNumbers<uint64_t>({
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", true, 0},
      {"99999999999999999999", true, 7766279631452241919ull},
      {"-5", false, 0},
      {"12abc", false, 0},
  });
}

TEST(ParamValues, BoolIsTrueOnlyForYesInAnyCase) {
  struct {
    const char* text;
    bool value;
  } cases[] = {{"yes", true}, {"YES", true}, {"yEs", true}, {"1", false},
               {"true", false}, {"no", false}, {"", false}, {"yess", false}, {" yes", false}};
  for (auto& c : cases) {
    bool value = !c.value;
    EXPECT_TRUE(CParamTraits<bool>::Parse(c.text, &value)) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

// ---- written lines and trace texts ----

template <typename P, typename V>
void ExpectWritten(P& param, V value, const std::string& line, const std::string& trace) {
  param.Set(value);
  CMyStreamBuf out;
  EXPECT_TRUE(param.WriteTo(out));
  EXPECT_EQ(ContentOf(out), line);
  CMyStringA text("x:");
  param.Describe(text);
  EXPECT_EQ(std::string(text.GetString()), "x:" + trace);
}

TEST(ParamWrite, EveryTypeWritesItsLineAndDescribesTypeAndValue) {
  CBoolParam flag("FLAG");
  ExpectWritten(flag, true, "FLAG:yes\n", "bool yes");
  ExpectWritten(flag, false, "FLAG:no\n", "bool no");
  CIntParam number("N");
  ExpectWritten(number, -2147483647 - 1, "N:-2147483648\n", "int -2147483648");
  CByteParam byte("B");
  ExpectWritten(byte, uint8_t(255), "B:255\n", "unsigned char 255");
  CULongParam sigid("SIGID");
  ExpectWritten(sigid, 4294967295u, "SIGID:4294967295\n", "unsigned long 4294967295");
  CULongLongParam big("BIG");
  ExpectWritten(big, UINT64_MAX, "BIG:18446744073709551615\n",
                "unsigned long long 18446744073709551615");
  CStringParam text("FILE");
  ExpectWritten(text, "", "FILE:\n", "string ");
  ExpectWritten(text, "a:b", "FILE:a:b\n", "string a:b");
  CStringParam unnamed("");
  ExpectWritten(unnamed, "v", "v\n", "string v");
}

TEST(ParamWrite, LineBreaksInNamesAndValuesBecomeBlanks) {
  // A subject or file name must not end its line or start one of its own.
  CStringParam subject("SUBJECT");
  subject.Set("Hello\r\n.\nSCAN_EMAIL\rend\n");
  CMyStreamBuf out;
  ASSERT_TRUE(subject.WriteTo(out));
  EXPECT_EQ(ContentOf(out), "SUBJECT:Hello  . SCAN_EMAIL end \n");
  CStringParam odd("A\nB");
  odd.Set("v");
  CMyStreamBuf out2;
  ASSERT_TRUE(odd.WriteTo(out2));
  EXPECT_EQ(ContentOf(out2), "A B:v\n");
}

TEST(ParamWrite, RefusedBytesFailTheWrite) {
  CStringParam file("FILE");
  file.Set("report.pdf");
  for (size_t capacity : {0u, 3u, 5u, 15u}) {
    LimitedSink sink(capacity);
    EXPECT_FALSE(file.WriteTo(sink)) << capacity;
  }
  LimitedSink sink(16);
  EXPECT_TRUE(file.WriteTo(sink));
}

TEST(ParamWrite, BinaryWritesDataLineThenExactlyItsBytes) {
  CBinaryParam data;
  std::string bytes = std::string("\0\n.\nDATA 3\n", 11);
  ASSERT_TRUE(data.SetBytes(bytes.data(), bytes.size()));
  data.Stream().Seek(0, nullptr, 2);  // WriteTo rewinds
  CMyStreamBuf out;
  ASSERT_TRUE(data.WriteTo(out));
  EXPECT_EQ(ContentOf(out), "DATA 11\n" + bytes);
  CMyStringA trace;
  data.Describe(trace);
  EXPECT_STREQ(trace.GetString(), "binary");
  EXPECT_STREQ(data.GetName(), "unnamed");

  CBinaryParam empty;
  CMyStreamBuf out2;
  ASSERT_TRUE(empty.WriteTo(out2));
  EXPECT_EQ(ContentOf(out2), "DATA 0\n");

  LimitedSink sink(8 + 5);  // the line and five of the eleven bytes
  EXPECT_FALSE(data.WriteTo(sink));
}

TEST(ParamWrite, BinaryOnAnExternalStreamWritesThatStream) {
  CMyStreamBuf mime;
  mime.Write("MIME", 4);
  CBinaryParam data(&mime);
  CMyStreamBuf out;
  ASSERT_TRUE(data.WriteTo(out));
  EXPECT_EQ(ContentOf(out), "DATA 4\nMIME");
}

// ---- blocks as read ----

// One list with a parameter of each type, as a command would hold.
struct Block {
  CCommandParams list;
  CBoolParam flag{"FLAG", true};
  CIntParam number{"NUMBER", -5};
  CByteParam small{"SMALL", 7};
  CULongParam sigid{"SIGID", 11};
  CULongLongParam big{"BIG", 13};
  CStringParam scanret{"SCANRET", "default"};
  CBinaryParam first, second;
  Block() {
    for (CParam* p : std::initializer_list<CParam*>{&flag, &number, &small, &sigid, &big,
                                                    &scanret, &first, &second})
      list.Add(p);
  }
  bool Read(const std::string& text) {
    auto in = StreamOf(text);
    return list.ReadBlock(*in);
  }
};

struct BlockCase {
  const char* what;
  std::string wire;
  bool ok;
  uint32_t sigid;
  const char* scanret;
  size_t lists;
  size_t streams;
};

TEST(ReadBlock, LinesAsTheGrammarGivesThem) {
  // Before every case SIGID holds 1234 and SCANRET "before"; a missing
  // value gives the default (11, "default"), a refused number keeps 1234.
  const BlockCase cases[] = {
      {"plain values", "SIGID:+42\nSCANRET:VIRUS\n.\n", true, 42, "VIRUS", 0, 0},
      {"nothing: defaults", ".\n", true, 11, "default", 0, 0},
      {"names match in any case", "sigid:3\nscanret:x\n.\n", true, 3, "x", 0, 0},
      {"the later of two wins", "SIGID:1\nSIGID:2\nSCANRET:a\nScanRet:b\n.\n", true, 2, "b", 0, 0},
      {"a name alone is the empty value", "SIGID\nSCANRET\n.\n", true, 1234, "", 0, 0},
      {"minus refused", "SIGID:-1\n.\n", true, 1234, "default", 0, 0},
      {"letters refused", "SIGID:4x\n.\n", true, 1234, "default", 0, 0},
      {"wraps", "SIGID:4294967297\n.\n", true, 1, "default", 0, 0},
      {"split at the first colon", "SCANRET:a:b:\n.\n", true, 11, "a:b:", 0, 0},
      {"empty names ignored", ":5\n\nSIGID:6\n.\n", true, 6, "default", 0, 0},
      {"CR dropped anywhere", "SIG\rID:7\r\nSCANRET:\rv\r\n.\r\n", true, 7, "v", 0, 0},
      {"a list item reaches only its store",
       "LISTSTART\nSIGID:1\nSCANRET:inner\nLISTEND\nSIGID:2\n.\n", true, 2, "default", 1, 0},
      {"two list items", "LISTSTART\nLISTEND\nLISTSTART\nA:1\nLISTEND\n.\n", true, 11, "default", 2, 0},
      {"nested LISTSTART fails", "LISTSTART\nLISTSTART\nLISTEND\nLISTEND\n.\n", false, 11, "default", 1, 0},
      {"LISTEND outside a list fails", "SIGID:5\nLISTEND\n.\n", false, 5, "default", 0, 0},
      {"terminator inside a list fails", "LISTSTART\nSIGID:9\n.\n", false, 11, "default", 1, 0},
      {"values before a failure still count", "SIGID:8\nLISTSTART\nLISTSTART\n", false, 8, "default", 1, 0},
      {"no terminator", "SIGID:5\nSCANRET:cut", false, 5, "cut", 0, 0},
      {"empty input", "", false, 11, "default", 0, 0},
      {"DATA 0", "DATA 0\nSIGID:3\n.\n", true, 3, "default", 0, 1},
      {"DATA with a size that is no number", "DATA abc\nSIGID:3\n.\n", true, 3, "default", 0, 1},
      {"DATA with a signed size", "DATA -5\nSIGID:3\n.\n", true, 3, "default", 0, 1},
      {"DATA bytes then the next line", "DATA 3\nabcSIGID:4\n.\n", true, 4, "default", 0, 1},
      {"DATA bytes may hold lines", "DATA 5\n.\n.\n\nSIGID:4\n.\n", true, 4, "default", 0, 1},
      {"DATA without blank is a name", "DATA\nSIGID:4\n.\n", true, 4, "default", 0, 0},
      {"DATA that ends early fails", "SIGID:2\nDATA 10\nabc", false, 2, "default", 0, 0},
      {"DATA of 2^64-1 announced", "DATA 18446744073709551615\nabc", false, 11, "default", 0, 0},
      {"DATA inside a list item", "LISTSTART\nDATA 2\nxyLISTEND\n.\n", true, 11, "default", 1, 0},
  };
  for (const BlockCase& c : cases) {
    Block b;
    b.sigid.Set(1234);
    b.scanret.Set("before");
    EXPECT_EQ(b.Read(c.wire), c.ok) << c.what;
    EXPECT_EQ(b.sigid.Get(), c.sigid) << c.what;
    EXPECT_STREQ(b.scanret.Get().GetString(), c.scanret) << c.what;
    EXPECT_EQ(b.list.Store().ListCount(), c.lists) << c.what;
    EXPECT_EQ(b.list.Store().StreamCount(), c.streams) << c.what;
  }
}

TEST(ReadBlock, ListItemsKeepTheirOwnValuesAndStreams) {
  Block b;
  ASSERT_TRUE(b.Read("LISTSTART\nA:1\nDATA 2\nxyLISTEND\nLISTSTART\nA:2\nLISTEND\nA:top\n.\n"));
  CParameterStore& store = b.list.Store();
  ASSERT_EQ(store.ListCount(), 2u);
  EXPECT_STREQ(store.ListItem(0)->FindValue("a"), "1");
  EXPECT_EQ(store.ListItem(0)->StreamCount(), 1u);
  EXPECT_STREQ(store.ListItem(1)->FindValue("A"), "2");
  EXPECT_EQ(store.ListItem(2), nullptr);
  EXPECT_STREQ(store.FindValue("A"), "top");
  EXPECT_EQ(store.StreamCount(), 0u);
  EXPECT_EQ(ContentOf(*store.ListItem(0)->StreamAt(0)), "xy");
}

TEST(ReadBlock, StoreKeepsArrivalOrderAndTheFirstSpelling) {
  Block b;
  ASSERT_TRUE(b.Read("Zeta:1\nalpha:2\nZETA:3\nmid\n.\n"));
  std::vector<std::string> seen;
  for (CMyPtrListNode* n = b.list.Store().FirstValue(); n; n = n->next)
    seen.push_back(std::string(CParameterStore::NameOf(n)) + "=" + CParameterStore::ValueOf(n));
  EXPECT_EQ(seen, (std::vector<std::string>{"Zeta=3", "alpha=2", "mid="}));
  EXPECT_EQ(b.list.Store().ValueCount(), 3u);
}

TEST(ReadBlock, EveryTypeTakesItsValue) {
  Block b;
  ASSERT_TRUE(b.Read("FLAG:no\nNUMBER:-17\nSMALL:+200\nSIGID:99\nBIG:12345678901234\n"
                     "SCANRET:clean\n.\n"));
  EXPECT_FALSE(b.flag.Get());
  EXPECT_EQ(b.number.Get(), -17);
  EXPECT_EQ(b.small.Get(), 200);
  EXPECT_EQ(b.sigid.Get(), 99u);
  EXPECT_EQ(b.big.Get(), 12345678901234ull);
  EXPECT_STREQ(b.scanret.Get().GetString(), "clean");
  // A second block without them puts the defaults back.
  ASSERT_TRUE(b.Read(".\n"));
  EXPECT_TRUE(b.flag.Get());
  EXPECT_EQ(b.number.Get(), -5);
  EXPECT_EQ(b.small.Get(), 7);
  EXPECT_EQ(b.big.Get(), 13u);
}

TEST(ReadBlock, BinaryParametersTakeDataBlocksByPosition) {
  Block b;
  ASSERT_TRUE(b.Read("DATA 4\nabcdSIGID:1\n.\n"));
  EXPECT_EQ(ContentOf(b.first.Stream()), "abcd");
  EXPECT_EQ(ContentOf(b.second.Stream()), "") << "no second block: reset and empty";

  ASSERT_TRUE(b.Read("DATA 2\n12DATA 3\n345.\n"));
  EXPECT_EQ(ContentOf(b.first.Stream()), "12");
  EXPECT_EQ(ContentOf(b.second.Stream()), "345");

  // A shorter block after a longer one leaves no old bytes behind.
  ASSERT_TRUE(b.Read("DATA 1\nZDATA 0\n.\n"));
  EXPECT_EQ(ContentOf(b.first.Stream()), "Z");
  EXPECT_EQ(ContentOf(b.second.Stream()), "");
  EXPECT_EQ(b.list.Store().Cursor(), 2u);
}

TEST(ReadBlock, BinaryReadFromReportsWhetherItGotABlock) {
  CParameterStore store;
  auto* block = new CMyStreamBuf();
  block->Write("xyz", 3);
  ASSERT_TRUE(store.AddStream(block));
  CBinaryParam a, b;
  EXPECT_TRUE(a.ReadFrom(store));
  EXPECT_FALSE(b.ReadFrom(store));
  EXPECT_EQ(ContentOf(a.Stream()), "xyz");
  EXPECT_EQ(ContentOf(b.Stream()), "");
  // The store's stream is still there (owned by the store).
  EXPECT_EQ(ContentOf(*store.StreamAt(0)), "xyz");
  store.Clear();
  EXPECT_EQ(store.StreamCount(), 0u);
  EXPECT_EQ(store.Cursor(), 0u);
}

TEST(ReadBlock, LinesAtTheirLimit) {
  std::string name = "SCANRET:";
  std::string fits = name + std::string(kMaxParamLine - 1 - name.size(), 'v');
  Block b;
  EXPECT_TRUE(b.Read(fits + "\n.\n"));
  EXPECT_EQ(b.scanret.Get().GetLength(), kMaxParamLine - 1 - name.size());
  Block c;
  EXPECT_FALSE(c.Read(fits + "v\n.\n")) << "a line of 1 MiB reaches the limit";
  EXPECT_STREQ(c.scanret.Get().GetString(), "default");
  // CRs do not count towards the limit.
  Block d;
  EXPECT_TRUE(d.Read(fits + "\r\r\r\n.\n"));
}

TEST(ReadBlock, BoundsOnWhatOneBlockCreates) {
  std::string lists;
  for (size_t i = 0; i < kMaxListItemsPerBlock; ++i) lists += "LISTSTART\nLISTEND\n";
  Block b;
  EXPECT_TRUE(b.Read(lists + ".\n"));
  EXPECT_EQ(b.list.Store().ListCount(), kMaxListItemsPerBlock);
  EXPECT_FALSE(b.Read(lists + "LISTSTART\nLISTEND\n.\n"));

  std::string data;
  for (size_t i = 0; i < kMaxDataBlocksPerBlock; ++i) data += "DATA 0\n";
  EXPECT_TRUE(b.Read(data + ".\n"));
  EXPECT_EQ(b.list.Store().StreamCount(), kMaxDataBlocksPerBlock);
  EXPECT_FALSE(b.Read(data + "DATA 0\n.\n"));

  std::string values;
  for (size_t i = 0; i <= kMaxValuesPerBlock; ++i) values += "V" + std::to_string(i) + "\n";
  EXPECT_FALSE(b.Read(values + ".\n"));
  EXPECT_LE(b.list.Store().ValueCount(), kMaxValuesPerBlock);
}

// ---- names chosen to collide ----

// 2^bits names of 2 * bits characters that all share one HashNameNoCase:
// "AP" and "B/" hash alike (65 * 33 + 80 == 66 * 33 + 47), and the hash of
// a concatenation depends only on the hashes and lengths of its parts.
std::vector<std::string> CollidingNames(int bits) {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < (1u << bits); ++i) {
    std::string name;
    for (int b = 0; b < bits; ++b) name += (i >> b) & 1 ? "B/" : "AP";
    names.push_back(name);
  }
  return names;
}

TEST(ParameterStore, NamesSharingTheTextHashKeepItsChainsShort) {
  std::vector<std::string> names = CollidingNames(12);
  std::string wire;
  for (const std::string& n : names) {
    ASSERT_EQ(HashNameNoCase(n.c_str()), HashNameNoCase(names[0].c_str())) << n;
    wire += n + ":" + n.substr(0, 6) + "\n";
  }
  CCommandParams list;
  auto in = StreamOf(wire + ".\n");
  ASSERT_TRUE(list.ReadBlock(*in));
  const CParameterStore& store = list.Store();
  EXPECT_EQ(store.ValueCount(), names.size());
  // 4096 names that one chain of the specified hash would hold: the store
  // spreads them as it spreads any names (a chain of 16 has odds far below
  // 1e-9 with a table at least as large as its entries).
  EXPECT_LE(store.LongestChain(), 16u);
  std::string lower = names[77];
  for (char& c : lower) c = static_cast<char>(c == 'P' ? 'p' : c);
  EXPECT_STREQ(store.FindValue(lower.c_str()), names[77].substr(0, 6).c_str()) << "any case";
  EXPECT_EQ(store.FindValue("AQ"), nullptr);
}

TEST(ParameterStore, ClearingGivesTheTableBackAndKeepsArrivalOrder) {
  CParameterStore store;
  EXPECT_EQ(store.LongestChain(), 0u) << "no bucket array before the first name";
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(store.SetValue(("N" + std::to_string(i)).c_str(), "v"));
  ASSERT_TRUE(store.SetValue("n5", "later"));
  EXPECT_EQ(store.ValueCount(), 1000u);
  EXPECT_STREQ(CParameterStore::NameOf(store.FirstValue()), "N0");
  EXPECT_STREQ(store.FindValue("N5"), "later");
  store.Clear();
  EXPECT_EQ(store.ValueCount(), 0u);
  EXPECT_EQ(store.FindValue("N5"), nullptr);
  EXPECT_EQ(store.LongestChain(), 0u);
  ASSERT_TRUE(store.SetValue("again", "1"));
  EXPECT_STREQ(store.FindValue("AGAIN"), "1");
}

// ---- what the DATA blocks of one block may hold ----

// The wire of DATA blocks of the given sizes, bytes 'a', 'b', ... per block,
// then the terminator.
std::string DataBlocks(std::initializer_list<size_t> sizes) {
  std::string wire;
  char fill = 'a';
  for (size_t size : sizes) wire += "DATA " + std::to_string(size) + "\n" + std::string(size, fill++);
  return wire + ".\n";
}

TEST(ReadBlock, DataBlocksTogetherStopAtTheirBound) {
  SpillFolder folder;
  Block b;
  LimitData(b.list, folder, 1000, kMaxDataMemoryPerBlock, 100);  // above 100 bytes a block spills

  ASSERT_TRUE(b.Read(DataBlocks({600, 400})));
  EXPECT_EQ(b.list.Store().StreamCount(), 2u);
  EXPECT_EQ(folder.Files(), 2u) << "both spilled while the store holds them";
  EXPECT_EQ(ContentOf(b.second.Stream()), std::string(400, 'b'));

  // One byte beyond: the block fails, and nothing it received stays.
  EXPECT_FALSE(b.Read(DataBlocks({600, 401})));
  EXPECT_EQ(b.list.Store().StreamCount(), 0u);
  EXPECT_EQ(folder.Files(), 0u);
  EXPECT_EQ(ContentOf(b.first.Stream()), "") << "no DATA left for the parameters";

  // The bound counts every block of the block, list items too.
  EXPECT_FALSE(b.Read("LISTSTART\nDATA 999\n" + std::string(999, 'x') + "LISTEND\nDATA 2\nyy.\n"));
  EXPECT_EQ(b.list.Store().ListItem(0)->StreamCount(), 0u);
  EXPECT_EQ(folder.Files(), 0u);
}

// Serves a DATA line announcing 2^64 - 1 bytes, then bytes without end (up
// to a cap that only a reader ignoring the bound reaches).
class EndlessData : public CMyStream {
public:
  static constexpr uint64_t kCap = 64u << 20;
  size_t Read(void* buffer, size_t length) override {
    static const std::string head = "DATA 18446744073709551615\n";
    auto* out = static_cast<char*>(buffer);
    size_t n = 0;
    for (; n < length && served_ < kCap; ++n, ++served_)
      out[n] = served_ < head.size() ? head[served_] : 'e';
    return n;
  }
  size_t Write(const void*, size_t) override { return 0; }
  bool Truncate() override { return false; }
  bool Seek(int64_t, int64_t* newPosition, int) override {
    if (newPosition) *newPosition = 0;
    return true;
  }
  bool IsOpen() const override { return true; }
  uint64_t Served() const { return served_; }

private:
  uint64_t served_ = 0;
};

TEST(ReadBlock, AnEndlessDataBlockIsRefusedBeforeItsBytes) {
  SpillFolder folder;
  Block b;
  b.list.SetSpillDirectory(folder.Name());
  EndlessData in;
  EXPECT_FALSE(b.list.ReadBlock(in));
  EXPECT_LE(in.Served(), 65536u) << "one read buffer, then it stopped";
  EXPECT_EQ(folder.Files(), 0u);
  EXPECT_EQ(b.list.Store().StreamCount(), 0u);
}

TEST(ReadBlock, BlocksBeyondTheMemoryShareGoStraightToAFile) {
  SpillFolder folder;
  Block b;
  LimitData(b.list, folder, kMaxDataBytesPerBlock, 10, 8);
  ASSERT_TRUE(b.Read(DataBlocks({4, 4, 4, 0, 20})));
  CParameterStore& store = b.list.Store();
  ASSERT_EQ(store.StreamCount(), 5u);
  std::vector<bool> inMemory;
  for (size_t i = 0; i < store.StreamCount(); ++i)
    inMemory.push_back(dynamic_cast<CMyStreamMixed&>(*store.StreamAt(i)).IsInMemory());
  // 4 + 4 fit the share of 10; the third would pass it; an empty block
  // costs nothing; 20 bytes spill past the threshold of 8 anyway.
  EXPECT_EQ(inMemory, (std::vector<bool>{true, true, false, true, false}));
  EXPECT_EQ(folder.Files(), 2u);
  EXPECT_EQ(ContentOf(*store.StreamAt(2)), "cccc");
  EXPECT_EQ(ContentOf(*store.StreamAt(4)), std::string(20, 'e'));
  store.Clear();
  EXPECT_EQ(folder.Files(), 0u);
}

// ---- progress of DATA blocks ----

struct Recorder : CMyObserver<CBinaryDownloadProgressEvent> {
  std::vector<int> percents;
  void OnEvent(CMyEventSource<CBinaryDownloadProgressEvent>&,
               const CBinaryDownloadProgressEvent& e) override {
    percents.push_back(e.percent);
  }
};

std::vector<int> ProgressOf(uint64_t size) {
  Block b;
  Recorder r;
  b.list.AddObserver(&r);
  std::string wire = "DATA " + std::to_string(size) + "\n" + std::string(size, 'd') + ".\n";
  EXPECT_TRUE(b.Read(wire));
  EXPECT_EQ(b.first.Stream().GetSize(), static_cast<int64_t>(size));
  return r.percents;
}

TEST(DataProgress, OneEventPerChunk) {
  EXPECT_EQ(ProgressOf(0), std::vector<int>{});
  EXPECT_EQ(ProgressOf(1), std::vector<int>{100});
  EXPECT_EQ(ProgressOf(16384), std::vector<int>{100});
  EXPECT_EQ(ProgressOf(20000), (std::vector<int>{81, 100}));
  std::vector<int> hundred;
  for (int i = 1; i <= 100; ++i) hundred.push_back(i);
  EXPECT_EQ(ProgressOf(10000000), hundred) << "100 chunks of 100,000 bytes";
}

}  // namespace
}  // namespace commands
}  // namespace tarvixlib
