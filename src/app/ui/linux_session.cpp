#include "app/ui/linux_session.h"

#include "convert/table_formats.h"
#include "convert/ui/linux_header_dialog.h"
#include "ime/ui/linux_tables_dialog.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {
namespace {

const QString kCaption = QStringLiteral("Linux输入法码表");

QString Path(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

const std::filesystem::path kTextName = "kv_linux_table.txt";

}  // namespace

std::optional<std::filesystem::path> LinuxSession::Choose(QWidget* parent,
                                                          const LinuxEnvironment& env) {
  std::optional<LinuxTableInfo> chosen =
      LinuxTablesDialog::Run(parent, services_, store_.fs(), env);
  if (!chosen) return std::nullopt;
  return Prepare(parent, std::move(*chosen));
}

std::optional<std::filesystem::path> LinuxSession::Prepare(QWidget* parent, LinuxTableInfo chosen) {
  const std::filesystem::path path = chosen.path;
  const linux_table::LinuxFormat format = chosen.format;
  return Stage(parent, Open{std::move(chosen), {}, {}, {}, false}, path, format);
}

std::optional<std::filesystem::path> LinuxSession::PrepareFile(QWidget* parent,
                                                               const std::filesystem::path& file,
                                                               linux_table::LinuxFormat format) {
  LinuxTableInfo info;
  info.format = format;
  info.path = file;
  return Stage(parent, Open{std::move(info), file, {}, {}, false}, file, format);
}

std::optional<std::filesystem::path> LinuxSession::Stage(QWidget* parent, Open open,
                                                         const std::filesystem::path& path,
                                                         linux_table::LinuxFormat format) {
  Result<FormatTable> read = FormatOf(format).Read(store_.fs(), path, store_.temp());
  if (!read.IsOk()) {
    services_.ShowMessage(parent, QStringLiteral("无法读取该码表。"), kCaption,
                          UiServices::Icon::kError,
                          QString::fromStdString(read.status().message()));
    return std::nullopt;
  }
  if (!read->diagnostics.empty()) {
    QString detail;
    for (const linux_table::Diagnostic& d : read->diagnostics) {
      detail += QStringLiteral("第%1行：%2\n").arg(d.line).arg(QString::fromStdString(d.message));
    }
    services_.ShowMessage(parent,
                          QStringLiteral("有%1行无法读作码表行，保存时不会写回（见详细信息）。")
                              .arg(read->diagnostics.size()),
                          kCaption, UiServices::Icon::kInformation, detail);
  }
  // Not the open table's text: that table stays whole until this one opens.
  const std::u16string_view name = store_.currentPath().filename() == kTextName
                                       ? std::u16string_view(u"kv_linux_table_2.txt")
                                       : std::u16string_view(u"kv_linux_table.txt");
  const std::filesystem::path text = store_.temp().TempPath(name);
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(store_.fs(), text);
  Status written = writer.IsOk() ? Status::Ok() : writer.status();
  if (written.IsOk()) {
    writer.value()->WriteBom();
    writer.value()->Write(linux_table::ToMirelText(*read->linux));
    written = writer.value()->Commit();
  }
  if (!written.IsOk()) {
    services_.ShowMessage(parent, QStringLiteral("无法打开该码表。"), kCaption,
                          UiServices::Icon::kError, QString::fromStdString(written.message()));
    return std::nullopt;
  }
  open.table = std::move(*read->linux);
  open.text = text;
  // An installed database is saved back as ibus-table builds it: from source.
  pending_ = std::move(open);
  return text;
}

void LinuxSession::Begin() {
  open_ = std::move(pending_);
  pending_.reset();
}

void LinuxSession::Abandon() {
  if (pending_ && pending_->text != store_.currentPath()) (void)store_.fs().Remove(pending_->text);
  pending_.reset();
}

QString LinuxSession::origin() const {
  if (!open_) return {};
  return open_->file.empty() ? QString::fromStdString(open_->info.name) : Path(open_->file);
}

QString LinuxSession::formatName() const {
  if (!open_) return {};
  const std::u16string_view label = FormatOf(open_->table.format).label();
  return QString::fromUtf16(label.data(), static_cast<qsizetype>(label.size()));
}

QString LinuxSession::SavePrompt() const {
  if (!open_) return {};
  QString where;
  for (const std::filesystem::path& path : open_->info.userPaths) where += Path(path) + "\n";
  return QStringLiteral("码表将以%1的格式保存为用户码表：\n%2系统码表不会被改动。%3。\n是否保存？")
      .arg(QString::fromStdString(open_->info.name), where,
           QString::fromStdString(LinuxReloadAdvice(open_->info)));
}

linux_table::LinuxTable LinuxSession::CurrentTable() const {
  std::vector<std::u16string> texts;
  texts.reserve(store_.RowCount());
  for (uint32_t i = 0; i < store_.RowCount(); ++i) texts.emplace_back(store_.DataRowText(i));
  std::vector<linux_table::MirelRow> rows;
  rows.reserve(texts.size());
  for (const std::u16string& text : texts) {
    const size_t tab = text.find(u'\t');
    if (tab == std::u16string::npos) continue;
    std::u16string_view view(text);
    rows.push_back({view.substr(0, tab), view.substr(tab + 1)});
  }
  linux_table::LinuxTable base = open_->table;
  if (base.format == linux_table::LinuxFormat::kIbusDatabase) {
    base.format = linux_table::LinuxFormat::kIbusSource;
  }
  return linux_table::FromMirelRows(base, rows);
}

bool LinuxSession::Save(QWidget* parent) {
  if (!open_) return false;
  const bool toFile = !open_->file.empty();
  if (toFile && open_->info.format == linux_table::LinuxFormat::kIbusDatabase) {
    services_.ShowMessage(
        parent,
        QStringLiteral("ibus-table数据库只能读取，不能写回。请用“另存为”保存为文本码"
                       "表，或用“打开Linux输入法码表”保存为用户码表。"),
        kCaption, UiServices::Icon::kError);
    return false;
  }
  linux_table::LinuxTable table = CurrentTable();
  const SaveCheck check = FormatOf(open_->info.format).CannotHold(table);
  if (check.rowsDropped == 0) {
    // A file opened by its path is saved like any file; a user copy of an
    // installed table says where it goes first.
    if (!toFile && !services_.AskYesNo(parent, SavePrompt(), kCaption)) return false;
  } else {
    const QString text =
        QStringLiteral(
            "共%1行中有%2行无法以该格式保存（码长或键位超出表头的设定等），不会写入"
            "%3；下面列出前%4行。\n\n")
            .arg(store_.RowCount())
            .arg(check.rowsDropped)
            .arg(toFile ? QStringLiteral("该文件") : QStringLiteral("用户码表"))
            .arg(check.findings.size()) +
        (toFile ? QStringLiteral("是否保存到%1？").arg(Path(open_->file)) : SavePrompt());
    if (!services_.ConfirmChanges(parent, kCaption, text, SaveCheckItems(check),
                                  QStringLiteral("保存"), QStringLiteral("取消"))) {
      return false;
    }
  }
  std::vector<linux_table::Diagnostic> diagnostics;
  Status installed = open_->file.empty()
                         ? InstallLinuxTable(store_.fs(), open_->info, table, diagnostics)
                         : linux_table::WriteLinuxTable(
                               store_.fs(), open_->file,
                               linux_table::ConvertTable(table, open_->info.format, diagnostics));
  // Through the editor, so that undoing back to this state clears the marker.
  if (installed.IsOk()) installed = editor_.Save(SaveMode::kSave);
  if (!installed.IsOk()) {
    services_.ShowMessage(parent,
                          open_->file.empty()
                              ? QStringLiteral("保存文件失败，请确认对用户码表目录的写入权限。")
                              : QStringLiteral("保存文件失败，请确认对该文件的写入权限。"),
                          QStringLiteral("无法保存"), UiServices::Icon::kError,
                          QString::fromStdString(installed.message()));
    return false;
  }
  open_->table = std::move(table);
  if (open_->table.format == linux_table::LinuxFormat::kIbusSource &&
      open_->info.format == linux_table::LinuxFormat::kIbusDatabase) {
    open_->table.format = linux_table::LinuxFormat::kIbusDatabase;
  }
  // The rows left out were listed in the question above.
  open_->headerChanged = false;
  return true;
}

void LinuxSession::EditHeader(QWidget* parent) {
  if (!open_) {
    services_.ShowMessage(parent, QStringLiteral("只有打开的Linux输入法码表才有表头。"), kCaption,
                          UiServices::Icon::kError);
    return;
  }
  // Rows that fit the old header but not the new one are told while the
  // header can still be changed.
  const LinuxHeaderDialog::ConfirmRows confirm = [this](QWidget* dialog,
                                                        const std::string& edited) {
    linux_table::LinuxTable table = CurrentTable();
    const SaveCheck before = FormatOf(open_->info.format).CannotHold(table);
    table.header = edited;
    const SaveCheck after = FormatOf(open_->info.format).CannotHold(table);
    if (after.rowsDropped <= before.rowsDropped) return true;
    return services_.ConfirmChanges(
        dialog, QStringLiteral("表头"),
        QStringLiteral("按此表头，共%1行中有%2行将无法保存（码长或键位超出表头的设定等），"
                       "保存时不会写入；下面列出前%3行。\n可以返回修改表头。")
            .arg(store_.RowCount())
            .arg(after.rowsDropped)
            .arg(after.findings.size()),
        SaveCheckItems(after), QStringLiteral("仍然使用"), QStringLiteral("返回修改"));
  };
  std::optional<std::string> header =
      LinuxHeaderDialog::Run(parent, services_, open_->table.format, open_->table.header, confirm);
  if (!header || *header == open_->table.header) return;
  open_->table.header = std::move(*header);
  open_->headerChanged = true;
}

}  // namespace mirel
