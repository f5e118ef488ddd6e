// kvrec and Kavorin judge a file alike: what the loader refuses with "Not a
// valid recording", kvrec refuses with the same words, and what it takes,
// kvrec reads as the same records, in a .rec file and behind a player.
#include <random>

#include "desk.h"
#include "files/recfile.h"
#include "kvrec/recording.h"
#include "kvrec/samples.h"

namespace {

class KvrecVerdict : public Desk {
 protected:
  // The loader's verdict on a file, and kvrec's on the same bytes; each round
  // on a fresh desktop, which the round leaves as it found it.
  void ExpectSameVerdict(const std::vector<unsigned char>& bytes, int32_t offset) {
    sim::Reset();
    gApp = AppState{};
    gStubSlot[1] = kUnstampedSize;
    sim::MapDrive('C', folder_);
    OpenWindow();
    char path[256];
    CopyText(path, WriteBytes("f.bin", bytes).c_str(), 256);
    bool kavorin = LoadRecording(path, offset) != 0;
    Recording r;
    std::string kvrec = Verdict(bytes, &r, "f.bin");
    ASSERT_EQ(kavorin, kvrec.empty()) << kvrec << " size " << bytes.size();
    if (kavorin) {
      EXPECT_EQ(Vec(RecordBytes(r.records)),
                std::vector<unsigned char>(bytes.begin() + offset, bytes.end()));
    } else {
      ASSERT_EQ(sim::Boxes().size(), 1u);
      EXPECT_EQ(*sim::Boxes()[0].text, "Not a valid recording");
      EXPECT_EQ(kvrec.find("f.bin: Not a valid recording: "), 0u) << kvrec;
    }
    ExpectNothingLeft();
  }
};

}  // namespace

TEST_F(KvrecVerdict, RecFilesAndPlayersAreJudgedAlike) {
  std::mt19937 random(7);
  const std::vector<unsigned char> program = MakeProgram(kUnstampedSize);
  std::vector<std::vector<unsigned char>> payloads = {{},
                                                      {0},
                                                      {0, 0},
                                                      std::vector<unsigned char>(19),
                                                      std::vector<unsigned char>(20),
                                                      std::vector<unsigned char>(21),
                                                      std::vector<unsigned char>(40, 0x41)};
  for (int n = 0; n < 60; ++n) {
    std::vector<unsigned char> p(random() % 3 ? 20 * (random() % 5) : random() % 90);
    for (auto& b : p) b = (unsigned char)random();
    if (!p.empty() && random() % 2) p[0] = 0;
    payloads.push_back(p);
  }
  for (const auto& p : payloads) {
    if (!(p.size() >= 2 && p[0] == 'M' && p[1] == 'Z')) ExpectSameVerdict(p, 0);
    if (!p.empty()) ExpectSameVerdict(Joined(program, p), kUnstampedSize);
    if (HasFatalFailure()) return;
  }
}
