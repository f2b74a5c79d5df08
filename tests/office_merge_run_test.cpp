// The Word and Excel modes of the merge run: its captions, its refusals and failures, and the
// converter's private folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "filetasks/file_merge_run.h"
#include "office/package.h"
#include "office/package_writer.h"
#include "support/cfb_sample.h"
#include "support/docx_samples.h"
#include "support/fake_converter.h"
#include "support/faulty_filesystem.h"
#include "support/recording_ui.h"
#include "support/temp_dir.h"
#include "support/xlsx_samples.h"

namespace quorvane {
namespace {

using namespace testing;
using office::PackageWriter;
using Op = FaultyFileSystem::Op;

// A one-paragraph document, or a workbook with one sheet, named by `text`.
void WriteSample(const std::string& path, const std::string& text, bool workbook = false) {
  std::string err;
  const XlsxBook book{.sheets = {{.name = text, .cells = {{"A1", 'n', "1"}}}}};
  ASSERT_TRUE(workbook ? WriteXlsx(SystemFileSystem(), path, book, &err)
                       : WriteDocx({.paragraphs = {text}}, path, &err)) << err;
}

class OfficeMergeRunTest : public ::testing::Test {
 protected:
  OfficeMergeRunTest() {
    ui.Set("txtSourcePath=" + dir / "src" + "|txtSourceName=*.docx|cboType=2");
    ui.Set("txtDestinationPath=" + dir / "out/all.docx");
    dir.MakeFolder("src");
    WriteSample(dir / "src/1.docx", "one");
    WriteSample(dir / "src/2.docx", "two");
    converter.docx = dir / "src/1.docx";
  }

  RunOutcome Run(const std::string& fields = "", FileSystem& fs = SystemFileSystem()) {
    last = ui;
    last.Set(fields);
    return RunFileMerge(fs, last, converter);
  }
  std::string MainPart(const std::string& path) {
    std::string err;
    const auto package = office::Package::Open(SystemFileSystem(), path, &err);
    return package ? package->MainPart() : err;
  }

  TempDir dir;
  // The temporary-files folder of the run, to see what it leaves.
  const ScopedEnv tmpdir{"TMPDIR", dir.MakeFolder("tmp")};
  RecordingUi ui{"批合并文件"}, last;
  FakeConverter converter;
};

TEST_F(OfficeMergeRunTest, CaptionsFollowTheSourcesThenTheSave) {
  WriteSample(dir / "src/a.xlsx", "a", true);
  WriteSample(dir / "src/b.xlsx", "b", true);
  const std::string p = "正在合并文件...";
  for (const auto& [fields, main] :
       {std::pair{std::string(""), "/word/document.xml"},
        std::pair{"cboType=3|txtSourceName=*.xlsx|txtDestinationPath=" + dir / "out/all.xlsx",
                  "/xl/workbook.xml"}}) {
    ui.answers = {Answer::Yes};
    EXPECT_EQ(Run(fields), RunOutcome::Completed);
    EXPECT_EQ(last.events,
              (Events{Msg("目标文件不存在！是否创建？", Icon::Question, Buttons::YesNo),
                      Pointer(true), CaptionTo(p + "0%"), CaptionTo(p + "50%"),
                      CaptionTo(p + "100%"), CaptionTo("正在保存文件..."), Pointer(false),
                      Msg("操作完成！", Icon::Information), CaptionTo("批合并文件")}));
    EXPECT_EQ(MainPart(last.texts["txtDestinationPath"]), main) << fields;
  }
  EXPECT_TRUE(converter.calls.empty());
}

TEST_F(OfficeMergeRunTest, AFailureLeavesTheDestinationAsItWas) {
  const std::string two = dir / "src/2.docx", all = dir / "out/all.docx";
  const struct { Op op; std::string part; int error; std::string message; } faults[] = {
      {Op::Read, "2.docx", EIO, "无法读取文件“" + two + "”：输入/输出错误"},
      {Op::Rename, "all.docx", ENOSPC, "无法改名为“" + all + "”：磁盘空间不足"},
  };
  for (const auto& f : faults) {
    for (const bool created : {false, true}) {
      std::filesystem::remove_all(dir / "out");
      if (!created) dir.Write("out/all.docx", "older");
      ui.answers = {Answer::Yes};
      FaultyFileSystem faulty(SystemFileSystem());
      faulty.FailWhen(f.op, f.part, f.error);
      EXPECT_EQ(Run("", faulty), RunOutcome::Failed);
      EXPECT_EQ(last.messages.back(), SystemError(f.message));
      EXPECT_EQ(ReadAll(all), created ? "" : "older") << f.message;
      EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"all.docx=" + ReadAll(all)}));
      EXPECT_EQ(last.captions.back(), "批合并文件");
    }
  }
}

TEST_F(OfficeMergeRunTest, SourcesItCannotTakeAreRefusedByNameBeforeAnythingIsWritten) {
  PackageWriter strict;  // the same parts under the Strict namespaces
  strict.SetPart("/word/document.xml", "<w:document xmlns:w=\"http://purl.oclc.org/ooxml/"
                 "wordprocessingml/main\"><w:body/></w:document>",
                 "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
  strict.AddRelationship("/", "http://purl.oclc.org/ooxml/officeDocument/relationships/"
                         "officeDocument", "/word/document.xml");
  std::string err;
  ASSERT_TRUE(strict.Save(SystemFileSystem(), dir / "strict.docx", &err)) << err;
  WriteSample(dir / "book.docx", "a", true);
  const std::string zip = ReadAll(dir / "src/1.docx");
  const std::string damaged = "不是有效的 Word 文档（文件已损坏，或不是 Office Open XML 格式的文档）";
  const std::string no_converter = "读取旧格式的 Word 文档需要 LibreOffice 转换，但它没有安装。"
                                   "请先安装 libreoffice-writer-nogui（sudo apt-get install "
                                   "libreoffice-writer-nogui）";
  const struct { std::string name, bytes, reason; } rows[] = {
      {"2.docx", CompoundFileBytes({.streams = {"EncryptionInfo", "EncryptedPackage"}}),
       "文档已加密（受密码保护），请先去掉密码再合并"},
      {"2.docx", ReadAll(dir / "strict.docx"),
       "这是 Strict Open XML 格式的文档，无法合并；请在 Office 中另存为普通的 Word 文档"},
      {"2.docx", zip.substr(0, zip.size() / 2), damaged},
      {"2.docx", "plain text\n", damaged},
      {"2.docx", ReadAll(dir / "book.docx"), "这是 Excel 工作簿，不是 Word 文档"},
      {"2.DOC", "legacy", no_converter},
      {"2.xls", "legacy", "不是 Word 文档"},
  };
  converter.available = false;
  for (const auto& r : rows) {
    std::filesystem::remove(dir / "src/2.docx");
    dir.Write("out/all.docx", "older");
    const std::string path = dir.Write("src/" + r.name, r.bytes);
    EXPECT_EQ(Run("txtSourceName=*"), RunOutcome::Failed);
    const std::string prefix = r.reason == no_converter ? "无法读取文件“" : "无法合并文件“";
    EXPECT_EQ(last.messages, Events{SystemError(prefix + path + "”：" + r.reason)});
    EXPECT_EQ(ReadAll(dir / "out/all.docx"), "older") << r.name;
    std::filesystem::remove(path);
  }
  EXPECT_EQ(Tree(dir / "tmp"), std::vector<std::string>{});
}

TEST_F(OfficeMergeRunTest, ALegacyDestinationWithoutTheConverterIsRefusedBeforeTheQuestion) {
  converter.available = false;
  EXPECT_EQ(Run("cboType=3|txtDestinationPath=" + dir / "out/all.XLS"), RunOutcome::Refused);
  EXPECT_EQ(last.events,
            (Events{Msg("无法保存为“" + dir / "out/all.XLS" + "”：保存为旧格式的 Excel 工作簿需要 "
                        "LibreOffice 转换，但它没有安装。请先安装 libreoffice-calc-nogui（sudo "
                        "apt-get install libreoffice-calc-nogui）",
                        Icon::Warning),
                    FocusOn("txtDestinationPath")}));
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST_F(OfficeMergeRunTest, ConversionsWorkInAPrivateFolderThatIsRemovedAfterwards) {
  dir.Write("src/3.doc", "legacy");
  dir.Write("out/all.doc", "older");
  for (const bool fail : {false, true}) {
    converter.calls.clear();
    converter.fail = fail;
    EXPECT_EQ(Run("txtSourceName=*.doc*|txtDestinationPath=" + dir / "out/all.doc"),
              fail ? RunOutcome::Failed : RunOutcome::Completed);
    ASSERT_EQ(converter.calls.size(), fail ? 1u : 2u);
    EXPECT_TRUE(converter.calls[0].starts_with(dir / "src/3.doc docx " + dir / "tmp/quorvane-office-"));
    EXPECT_EQ(Tree(dir / "tmp"), std::vector<std::string>{});  // gone however the run ended
  }
  EXPECT_EQ(last.messages.back(), SystemError("无法转换文件“" + dir / "src/3.doc" + "”"));
  // The result saved natively, converted back, and copied over the destination: here the
  // fake's "conversion" keeps the package, so it opens as one.
  EXPECT_EQ(MainPart(dir / "out/all.doc"), "/word/document.xml");
}

// The real converter, when LibreOffice is installed: a legacy source and a legacy result.
TEST_F(OfficeMergeRunTest, LibreOfficeConvertsALegacySourceAndTheResult) {
  auto& soffice = office::SystemConverter();
  if (!soffice.Available()) GTEST_SKIP() << "soffice is not installed (libreoffice-writer-nogui)";
  std::string produced, err;
  ASSERT_TRUE(soffice.Convert(dir / "src/2.docx", "doc", dir / "src", &produced, &err)) << err;
  std::filesystem::remove(dir / "src/2.docx");
  ui.answers = {Answer::Yes};
  ui.Set("txtSourceName=*.doc*|txtDestinationPath=" + dir / "out/all.doc");
  EXPECT_EQ(RunFileMerge(SystemFileSystem(), ui, soffice), RunOutcome::Completed)
      << ui.messages.back();
  EXPECT_TRUE(ReadAll(dir / "out/all.doc").starts_with("\xD0\xCF\x11\xE0"));  // Word 97
  EXPECT_EQ(Tree(dir / "tmp"), std::vector<std::string>{});
}

}  // namespace
}  // namespace quorvane
