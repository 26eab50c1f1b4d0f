#include "cli/options.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/alloc.h"
#include "cli/data_files.h"
#include "cli/errors.h"
#include "cli/numbers.h"
#include "commands/commands.h"
#include "image/image_commands.h"
#include "loader/loader.h"
#include "loader/loader_layout.h"
#include "names/host_path.h"
#include "names/name81.h"

namespace {

// Options that a command may admit, one bit each.
enum OptionBit : unsigned {
  OPT_IB = 1u << 0,
  OPT_IS = 1u << 1,
  OPT_ID = 1u << 2,
  OPT_FN = 1u << 3,
  OPT_LN = 1u << 4,
  OPT_SA = 1u << 5,
  OPT_AL = 1u << 6,
  OPT_AR = 1u << 7,
  OPT_OW = 1u << 8,
  OPT_PSC = 1u << 9,
  OPT_MON = 1u << 10,
  OPT_SCS = 1u << 11,
  OPT_CFN = 1u << 12,
  OPT_CFNL = 1u << 13,
  OPT_FIX = 1u << 14,
};
constexpr unsigned IMAGE_GEOMETRY = OPT_IB | OPT_IS | OPT_ID;
constexpr unsigned FILE_PARAMETERS = OPT_FN | OPT_LN | OPT_SA | OPT_AL | OPT_AR;

constexpr int OPTIONAL_VALUE = -1;  // -c: the mask may be left out

// Stores the values of one option or command; 0 or the reported error.
using Store = int (*)(Context& ctx, const char* const* values, const char* option);
using Run = int (*)(Context& ctx);

int store_nothing(Context&, const char* const*, const char*) { return 0; }

int store_boot_file(Context& ctx, const char* const* values, const char* option) {
  if (ctx.boot_file[0] != '\0') {
    return report_error(ERR_TWO_BOOT_FILES, ctx.boot_file.data(), values[0]);
  }
  if (!copy_path(ctx.boot_file, values[0]))
    return report_error(ERR_INVALID_NAME, values[0], option);
  ctx.boot_file_given = 1;
  return 0;
}

int store_image_size(Context& ctx, const char* const* values, const char* option) {
  const int kb = parse_number(values[0]);
  if (kb < 32 || kb > 8192 || kb % 32 != 0) return report_error(ERR_BAD_VALUE, option, values[0]);
  ctx.image_size_opt = kb * 1024;
  return 0;
}

int store_dir_items(Context& ctx, const char* const* values, const char* option) {
  const int items = parse_number(values[0]);
  if (items < 4 || items > 256 || items % 4 != 0) {
    return report_error(ERR_BAD_VALUE, option, values[0]);
  }
  ctx.dir_items_opt = items;
  return 0;
}

// The source file of -fa, -fc, -fl and -fr: the whole path, its 8.1 name in ctx.name.
int store_source(Context& ctx, const char* path, const char* option) {
  return parse_host_path(ctx, ctx.source_path, path, option, NO_WILDCARDS, WHOLE_PATH, DERIVE_NAME);
}

int store_long_name(Context& ctx, const char* const* values, const char*) {
  const std::size_t length = std::strlen(values[0]);
  if (length > LONG_NAME_LENGTH) return report_error(ERR_LONG_NAME);
  ctx.long_name.fill(' ');
  std::memcpy(ctx.long_name.data(), values[0], length);
  ctx.long_name[LONG_NAME_LENGTH] = '\0';
  return 0;
}

int store_start(Context& ctx, const char* const* values, const char* option) {
  const int value = parse_number(values[0]);
  if (value < 0 || value > 0xFFFF) return report_error(ERR_VALUE_RANGE, option, value);
  ctx.start_address = value;
  return 0;
}

// The monitors a Loader can load by number; any other value names a monitor file.
struct MonitorChoice {
  const char* text;
  int flags;
};
constexpr MonitorChoice NUMBERED_MONITORS[] = {
    {"1", 1}, {"1X", 1 | LOADER_NO_INIT}, {"2", 2}, {"2X", 2 | LOADER_NO_INIT}};

int store_monitor(Context& ctx, const char* const* values, const char* option) {
  for (const MonitorChoice& choice : NUMBERED_MONITORS) {
    if (std::strcmp(values[0], choice.text) == 0) {
      ctx.monitor = choice.flags;
      return 0;
    }
  }
  ctx.monitor = LOADER_MONITOR_FILE;
  return parse_name81(values[0], option, NO_WILDCARDS, ctx.monitor_name);
}

int store_new_name(Context& ctx, const char* const* values, const char* option) {
  return parse_name81(values[0], option, NO_WILDCARDS, ctx.new_name);
}

int store_exact_name(Context& ctx, const char* const* values, const char* option) {
  return set_main_name(ctx, values[0], option, NO_WILDCARDS);
}

int store_mask(Context& ctx, const char* const* values, const char* option) {
  return set_main_name(ctx, values[0], option, WILDCARDS_ALLOWED);
}

template <int Context::*flag>
int store_flag(Context& ctx, const char* const*, const char*) {
  ctx.*flag = 1;
  return 0;
}

struct OptionRow {
  const char* text;
  int values;
  Store store;
  unsigned bit;
};

const OptionRow OPTIONS[] = {
    {"-ib", 1, store_boot_file, OPT_IB},
    {"-is", 1, store_image_size, OPT_IS},
    {"-id", 1, store_dir_items, OPT_ID},
    {"-fn", 1, store_new_name, OPT_FN},
    {"-ln", 1, store_long_name, OPT_LN},
    {"-sa", 1, store_start, OPT_SA},
    {"-al", 0, store_flag<&Context::opt_al>, OPT_AL},
    {"-ar", 0, store_flag<&Context::opt_ar>, OPT_AR},
    {"-ow", 0, store_flag<&Context::opt_ow>, OPT_OW},
    {"-psc", 0, store_flag<&Context::opt_psc>, OPT_PSC},
    {"-mon", 1, store_monitor, OPT_MON},
    {"-scs", 0, store_flag<&Context::opt_scs>, OPT_SCS},
    {"-cfn", 0, store_flag<&Context::opt_cfn>, OPT_CFN},
    {"-cfnl", 1,
        [](Context& ctx, const char* const* values, const char* option) {
          return parse_host_path(
              ctx, ctx.list_path, values[0], option, NO_WILDCARDS, WHOLE_PATH, PATH_ONLY);
        },
        OPT_CFNL},
    {"-fix", 0, store_flag<&Context::opt_fix>, OPT_FIX},
};

// One row per command: its text and flag, its values and how they are
// stored, its handler, the options it admits (and of which it needs one),
// and its usage line (none for a command the usage text does not show). The
// order is that of the usage text and of the commands listed in a bad
// combination.
struct CommandRow {
  const char* text;
  int Context::*flag;
  int values;
  Store store;
  Run run;
  unsigned admitted;
  unsigned needs_one_of;  // 0: no further requirement
  const char* usage;
};

const CommandRow COMMANDS[] = {
    {"-c", &Context::cmd_c, OPTIONAL_VALUE, store_mask, show_catalogue, 0, 0, "-c [fmask[.T]]"},
    {"-ic", &Context::cmd_ic, 0, store_nothing, create_image, IMAGE_GEOMETRY, 0,
        "-ic [-is num] [-id num] [-ib [path/]bootfile.ext]"},
    {"-ir", &Context::cmd_ir, 0, store_nothing, reconfigure_image, IMAGE_GEOMETRY, IMAGE_GEOMETRY,
        "-ir [-is num] [-id num] [-ib [path/]bootfile.ext]"},
    {"-ii", &Context::cmd_ii, 0, store_nothing, show_image_info, 0, 0, "-ii"},
    {"-fa", &Context::cmd_fa, 1,
        [](Context& ctx, const char* const* values, const char* option) {
          // A path given before, -fx's directory included, is named as the first source.
          const PathField& given =
              ctx.source_path[0] != '\0' ? ctx.source_path : ctx.target_directory;
          if (given[0] != '\0') return report_error(ERR_TWO_SOURCES, given.data(), values[0]);
          return store_source(ctx, values[0], option);
        },
        add_file, FILE_PARAMETERS | OPT_OW | OPT_PSC, 0,
        "-fa [path/]filename.ext [-fn fname.T] [-ln lname] [-sa num] [-al] [-ar] [-ow] [-psc]"},
    {"-fc", &Context::cmd_fc, 1,
        [](Context& ctx, const char* const* values, const char* option) {
          return store_source(ctx, values[0], option);
        },
        add_complex_file, OPT_OW, 0, "-fc [path/]complex-file-name [-ow]"},
    {"-fl", &Context::cmd_fl, 1,
        [](Context& ctx, const char* const* values, const char* option) {
          return store_source(ctx, values[0], option);
        },
        add_file_list, OPT_OW, 0, "-fl [path/]complex-file-names-list [-ow]"},
    {"-fr", &Context::cmd_fr, 2,
        [](Context& ctx, const char* const* values, const char* option) {
          const int result = store_new_name(ctx, values, option);
          return result != 0 ? result : store_source(ctx, values[1], option);
        },
        add_file, OPT_FN, 0, "-fr fname.T [path/]filename.ext"},
    {"-fp", &Context::cmd_fp, 1, store_exact_name, change_file, FILE_PARAMETERS, FILE_PARAMETERS,
        "-fp fname.T [-fn newfn.T] [-ln lname] [-sa num] [-al] [-ar]"},
    {"-fd", &Context::cmd_fd, 1, store_mask, delete_files, 0, 0, "-fd fmask[.T]"},
    {"-fx", &Context::cmd_fx, 1,
        [](Context& ctx, const char* const* values, const char* option) {
          return parse_host_path(ctx, ctx.target_directory, values[0], option, WILDCARDS_ALLOWED,
              DIRECTORY_PART, DERIVE_NAME);
        },
        extract_files, OPT_CFN | OPT_CFNL, 0,
        "-fx [path/]fmask[.T] [-cfn [-cfnl [path/]complex-file-names-list]]"},
    {"-ml", &Context::cmd_ml, 3,
        [](Context& ctx, const char* const* values, const char* option) {
          int result = store_exact_name(ctx, values, option);
          if (result == 0) result = parse_name81(values[1], option, NO_WILDCARDS, ctx.picture_name);
          if (result == 0) result = store_new_name(ctx, values + 2, option);
          return result;
        },
        make_loader, OPT_FN | OPT_LN | OPT_SA | OPT_OW | OPT_MON | OPT_SCS, 0,
        "-ml fname.T pname.T cname.T [-ln lname] [-sa num] [-mon MX] [-scs] [-ow]"},
    {"-li", &Context::cmd_li, 1, store_exact_name, show_loader_info, 0, 0, "-li fname.T"},
    // Last, so that no combination text of the commands above changes.
    {"-iv", &Context::cmd_iv, 0, store_nothing, verify_image, OPT_FIX, 0, nullptr},
};

// At most one command, and only options it admits; `given` holds the bits
// of the options on the command line.
int check_combination(const Context& ctx, unsigned given) {
  std::string listed;
  const CommandRow* command = nullptr;
  for (const CommandRow& row : COMMANDS) {
    if (ctx.*row.flag) {
      listed += row.text;
      listed += ' ';
      command = &row;
    }
  }
  // -fix belongs to -iv alone: given without a command it would silently do nothing.
  if (command == nullptr)
    return (given & OPT_FIX) ? report_error(ERR_BAD_COMBINATION, "for", "-iv") : 0;
  if (listed.size() != std::strlen(command->text) + 1) {
    return report_error(ERR_BAD_COMBINATION, listed.c_str(), "");
  }
  const bool refused = (given & ~command->admitted) != 0;
  const bool requirement_unmet = command->needs_one_of != 0 && (given & command->needs_one_of) == 0;
  if (refused || requirement_unmet) return report_error(ERR_BAD_COMBINATION, "for", command->text);
  return 0;
}

int fill_defaults(Context& ctx) {
  // Only -ic reads the default Booter, so only -ic pays for its lookup.
  if (ctx.boot_file[0] == '\0' && ctx.cmd_ic) {
    const int result = find_data_file(ctx, DEFAULT_BOOT_FILE, ctx.boot_file);
    if (result != 0) return result;
  }
  if (ctx.cmd_ic || ctx.cmd_ir) {
    if (ctx.image_size_opt < 0) ctx.image_size_opt = DEFAULT_IMAGE_SIZE;
    if (ctx.dir_items_opt < 0) ctx.dir_items_opt = DEFAULT_DIR_ITEMS;
  }
  if (ctx.cmd_fa && ctx.start_address < 0) ctx.start_address = DEFAULT_START_ADDRESS;
  if (ctx.cmd_ml && ctx.monitor < 0) ctx.monitor = 0;
  if ((ctx.cmd_fa || ctx.cmd_ml) && ctx.long_name[0] == '\0') {
    ctx.long_name.fill(' ');
    ctx.long_name[LONG_NAME_LENGTH] = '\0';
  }
  return 0;
}

template <class Row, std::size_t N>
const Row* find_row(const Row (&rows)[N], const char* text) {
  for (const Row& row : rows) {
    if (std::strcmp(text, row.text) == 0) return &row;
  }
  return nullptr;
}

}  // namespace

int parse_options(int argc, char** argv, Context*& ctx_slot) {
  if (alloc_zeroed(ctx_slot) != 0) return ERR_OUT_OF_MEMORY;
  Context& ctx = *ctx_slot;
  ctx.program_path = argv[0];
  ctx.image_name = argv[1];
  ctx.image_size_opt = -1;
  ctx.dir_items_opt = -1;
  ctx.start_address = -1;
  ctx.monitor = -1;
  ctx.image_length = -1;
  ctx.known_fill_from = -1;

  unsigned given = 0;
  for (int i = 2; i < argc;) {
    const char* argument = argv[i];
    int values = 0;
    Store store = nullptr;
    if (const CommandRow* command = find_row(COMMANDS, argument)) {
      ctx.*command->flag = 1;
      values = command->values;
      store = command->store;
    } else if (const OptionRow* option = find_row(OPTIONS, argument)) {
      given |= option->bit;
      values = option->values;
      store = option->store;
    } else {
      return report_error(ERR_UNKNOWN_OPTION, argument);
    }
    int result = 0;
    if (values == OPTIONAL_VALUE) {
      // The next argument is always the value, whatever it looks like.
      values = i + 1 < argc ? 1 : 0;
      const char* const all[] = {"*"};
      result = store(ctx, values == 1 ? argv + i + 1 : all, argument);
    } else if (argc - i - 1 < values) {
      return report_error(ERR_MISSING_VALUE, argument);
    } else {
      result = store(ctx, argv + i + 1, argument);
    }
    if (result != 0) return result;
    i += 1 + values;
  }

  // -fa stores the name derived from its path unless -fn gives another.
  if (ctx.cmd_fa && !slot_given(ctx.new_name) && !name_storable(ctx.name)) {
    return report_error(ERR_INVALID_NAME, derived_name_text(ctx.source_path.data()).c_str(), "-fa");
  }
  const int result = check_combination(ctx, given);
  if (result != 0) return result;
  return fill_defaults(ctx);
}

int run_selected_command(Context& ctx) {
  for (const CommandRow& row : COMMANDS) {
    if (ctx.*row.flag) return row.run(ctx);
  }
  return 0;
}

void print_command_forms(const char* program) {
  for (const CommandRow& row : COMMANDS) {
    if (row.usage != nullptr) std::printf("  %s imgname.vem %s\n", program, row.usage);
  }
}
