#include "cli/options.h"

#include <array>
#include <cstring>
#include <string>

#include "cli/alloc.h"
#include "cli/errors.h"
#include "image/platform.h"
#include "names/name81.h"

namespace {

constexpr int DEFAULT_IMAGE_SIZE = 512 * 1024;
constexpr int DEFAULT_DIR_ITEMS = 32;
constexpr const char* DEFAULT_BOOT_FILE = "vem-boot.bin";

// Options that a command may admit, one bit each.
enum OptionBit : unsigned {
  OPT_IB = 1u << 0, OPT_IS = 1u << 1, OPT_ID = 1u << 2, OPT_FN = 1u << 3, OPT_LN = 1u << 4,
  OPT_SA = 1u << 5, OPT_AL = 1u << 6, OPT_AR = 1u << 7, OPT_OW = 1u << 8, OPT_PSC = 1u << 9,
  OPT_MON = 1u << 10, OPT_SCS = 1u << 11, OPT_CFN = 1u << 12, OPT_CFNL = 1u << 13,
};

using Handler = int (*)(Context& ctx, char** values, const char* option);

struct OptionRule {
  const char* text;
  int values;
  Handler apply;
};

int store_boot_file(Context& ctx, char** values, const char* option) {
  if (ctx.boot_file[0] != '\0') {
    return report_error(ERR_TWO_BOOT_FILES, ctx.boot_file.data(), values[0]);
  }
  if (!copy_path(ctx.boot_file, values[0])) return report_error(ERR_INVALID_NAME, values[0], option);
  ctx.boot_file_given = 1;
  return 0;
}

int store_image_size(Context& ctx, char** values, const char* option) {
  const int kb = parse_number(values[0]);
  if (kb < 32 || kb > 8192 || kb % 32 != 0) return report_error(ERR_BAD_VALUE, option, values[0]);
  ctx.image_size_opt = kb * 1024;
  return 0;
}

int store_dir_items(Context& ctx, char** values, const char* option) {
  const int items = parse_number(values[0]);
  if (items < 4 || items > 256 || items % 4 != 0) return report_error(ERR_BAD_VALUE, option, values[0]);
  ctx.dir_items_opt = items;
  return 0;
}

int store_source(Context& ctx, const char* path, const char* option) {
  return parse_host_path(ctx, ctx.source_path, path, option, 0, 1, 1);
}

int store_long_name(Context& ctx, char** values, const char*) {
  const std::size_t length = std::strlen(values[0]);
  if (length > LONG_NAME_LENGTH) return report_error(ERR_LONG_NAME);
  ctx.long_name.fill(' ');
  std::memcpy(ctx.long_name.data(), values[0], length);
  ctx.long_name[LONG_NAME_LENGTH] = '\0';
  return 0;
}

int store_start(Context& ctx, char** values, const char* option) {
  const int value = parse_number(values[0]);
  if (value < 0 || value > 0xFFFF) return report_error(ERR_VALUE_RANGE, option, value);
  ctx.start_address = value;
  return 0;
}

int store_monitor(Context& ctx, char** values, const char* option) {
  const std::string value = values[0];
  if (value == "1") ctx.monitor = 1;
  else if (value == "1X") ctx.monitor = 5;
  else if (value == "2") ctx.monitor = 2;
  else if (value == "2X") ctx.monitor = 6;
  else {
    ctx.monitor = 3;
    return parse_name81(values[0], option, 0, ctx.monitor_name);
  }
  return 0;
}

// Every option but -c, whose value is optional (parse_options takes it).
const std::array<OptionRule, 26> OPTIONS = {{
    {"-ic", 0, [](Context& ctx, char**, const char*) { ctx.cmd_ic = 1; return 0; }},
    {"-ir", 0, [](Context& ctx, char**, const char*) { ctx.cmd_ir = 1; return 0; }},
    {"-ii", 0, [](Context& ctx, char**, const char*) { ctx.cmd_ii = 1; return 0; }},
    {"-ib", 1, store_boot_file},
    {"-is", 1, store_image_size},
    {"-id", 1, store_dir_items},
    {"-fa", 1,
     [](Context& ctx, char** values, const char* option) {
       if (ctx.source_path[0] != '\0') {
         return report_error(ERR_TWO_SOURCES, ctx.source_path.data(), values[0]);
       }
       ctx.cmd_fa = 1;
       return store_source(ctx, values[0], option);
     }},
    {"-fr", 2,
     [](Context& ctx, char** values, const char* option) {
       ctx.cmd_fr = 1;
       const int result = parse_name81(values[0], option, 0, ctx.new_name);
       return result != 0 ? result : store_source(ctx, values[1], option);
     }},
    {"-fp", 1,
     [](Context& ctx, char** values, const char* option) {
       ctx.cmd_fp = 1;
       return set_main_name(ctx, values[0], option, 0);
     }},
    {"-fd", 1,
     [](Context& ctx, char** values, const char* option) {
       ctx.cmd_fd = 1;
       return set_main_name(ctx, values[0], option, 1);
     }},
    {"-fx", 1,
     [](Context& ctx, char** values, const char* option) {
       ctx.cmd_fx = 1;
       return parse_host_path(ctx, ctx.source_path, values[0], option, 1, 0, 1);
     }},
    {"-fc", 1,
     [](Context& ctx, char** values, const char* option) {
       ctx.cmd_fc = 1;
       return store_source(ctx, values[0], option);
     }},
    {"-fl", 1,
     [](Context& ctx, char** values, const char* option) {
       ctx.cmd_fl = 1;
       return store_source(ctx, values[0], option);
     }},
    {"-ml", 3,
     [](Context& ctx, char** values, const char* option) {
       ctx.cmd_ml = 1;
       int result = set_main_name(ctx, values[0], option, 0);
       if (result == 0) result = parse_name81(values[1], option, 0, ctx.picture_name);
       if (result == 0) result = parse_name81(values[2], option, 0, ctx.new_name);
       return result;
     }},
    {"-li", 1,
     [](Context& ctx, char** values, const char* option) {
       ctx.cmd_li = 1;
       return set_main_name(ctx, values[0], option, 0);
     }},
    {"-fn", 1,
     [](Context& ctx, char** values, const char* option) {
       return parse_name81(values[0], option, 0, ctx.new_name);
     }},
    {"-ln", 1, store_long_name},
    {"-sa", 1, store_start},
    {"-al", 0, [](Context& ctx, char**, const char*) { ctx.opt_al = 1; return 0; }},
    {"-ar", 0, [](Context& ctx, char**, const char*) { ctx.opt_ar = 1; return 0; }},
    {"-ow", 0, [](Context& ctx, char**, const char*) { ctx.opt_ow = 1; return 0; }},
    {"-psc", 0, [](Context& ctx, char**, const char*) { ctx.opt_psc = 1; return 0; }},
    {"-mon", 1, store_monitor},
    {"-scs", 0, [](Context& ctx, char**, const char*) { ctx.opt_scs = 1; return 0; }},
    {"-cfn", 0, [](Context& ctx, char**, const char*) { ctx.opt_cfn = 1; return 0; }},
    {"-cfnl", 1,
     [](Context& ctx, char** values, const char* option) {
       return parse_host_path(ctx, ctx.list_path, values[0], option, 0, 1, 0);
     }},
}};

struct CommandRule {
  const char* text;
  int Context::*flag;
  unsigned admitted;
  unsigned needs_one_of;  // 0: no further requirement
};

// Options each command admits; -fn is not tested for -fr and -ml, which fill
// new_name themselves.
constexpr std::array<CommandRule, 13> COMMANDS = {{
    {"-c", &Context::cmd_c, 0, 0},
    {"-ic", &Context::cmd_ic, OPT_IB | OPT_IS | OPT_ID, 0},
    {"-ir", &Context::cmd_ir, OPT_IB | OPT_IS | OPT_ID, OPT_IB | OPT_IS | OPT_ID},
    {"-ii", &Context::cmd_ii, 0, 0},
    {"-fa", &Context::cmd_fa,
     OPT_FN | OPT_LN | OPT_SA | OPT_AL | OPT_AR | OPT_OW | OPT_PSC, 0},
    {"-fc", &Context::cmd_fc, OPT_OW, 0},
    {"-fl", &Context::cmd_fl, OPT_OW, 0},
    {"-fr", &Context::cmd_fr, OPT_FN, 0},
    {"-fp", &Context::cmd_fp, OPT_FN | OPT_LN | OPT_SA | OPT_AL | OPT_AR,
     OPT_FN | OPT_LN | OPT_SA | OPT_AL | OPT_AR},
    {"-fd", &Context::cmd_fd, 0, 0},
    {"-fx", &Context::cmd_fx, OPT_CFN | OPT_CFNL, 0},
    {"-ml", &Context::cmd_ml, OPT_FN | OPT_LN | OPT_SA | OPT_OW | OPT_MON | OPT_SCS, 0},
    {"-li", &Context::cmd_li, 0, 0},
}};

unsigned given_options(const Context& ctx) {
  unsigned given = 0;
  if (ctx.boot_file[0] != '\0') given |= OPT_IB;
  if (ctx.image_size_opt != -1) given |= OPT_IS;
  if (ctx.dir_items_opt != -1) given |= OPT_ID;
  if (slot_given(ctx.new_name)) given |= OPT_FN;
  if (ctx.long_name[0] != '\0') given |= OPT_LN;
  if (ctx.start_address != -1) given |= OPT_SA;
  if (ctx.opt_al) given |= OPT_AL;
  if (ctx.opt_ar) given |= OPT_AR;
  if (ctx.opt_ow) given |= OPT_OW;
  if (ctx.opt_psc) given |= OPT_PSC;
  if (ctx.monitor != -1) given |= OPT_MON;
  if (ctx.opt_scs) given |= OPT_SCS;
  if (ctx.opt_cfn) given |= OPT_CFN;
  if (ctx.list_path[0] != '\0') given |= OPT_CFNL;
  return given;
}

int check_combination(const Context& ctx) {
  std::string listed;
  const CommandRule* command = nullptr;
  for (const CommandRule& rule : COMMANDS) {
    if (ctx.*rule.flag) {
      listed += rule.text;
      listed += ' ';
      command = &rule;
    }
  }
  if (command == nullptr) return 0;
  if (listed.size() != std::strlen(command->text) + 1) {
    return report_error(ERR_BAD_COMBINATION, listed.c_str(), "");
  }
  const unsigned given = given_options(ctx);
  const unsigned tested = (ctx.cmd_fr || ctx.cmd_ml) ? given & ~OPT_FN : given;
  const bool refused = (tested & ~command->admitted) != 0;
  const bool requirement_unmet = command->needs_one_of != 0 && (given & command->needs_one_of) == 0;
  if (refused || requirement_unmet) return report_error(ERR_BAD_COMBINATION, "for", command->text);
  return 0;
}

// The Booter file beside the program as invoked; a program found through
// PATH has no directory in its name, so the executable's own is used unless
// the current directory holds a Booter file.
int set_default_boot_file(Context& ctx, const char* program) {
  const int separator = host_separator(program);
  std::string path;
  if (separator >= 0) {
    path.assign(program, static_cast<std::size_t>(separator) + 1);
  } else if (!path_exists(DEFAULT_BOOT_FILE)) {
    path = executable_directory();
  }
  path += DEFAULT_BOOT_FILE;
  if (copy_path(ctx.boot_file, path.c_str())) return 0;
  // Only the commands that read files beside the Booter need the path.
  const bool needed = ctx.cmd_ic || (ctx.cmd_fa && ctx.opt_psc) || ctx.cmd_ml;
  return needed ? report_error(ERR_OPEN_READ, path.c_str()) : 0;
}

int fill_defaults(Context& ctx, const char* program) {
  if (ctx.boot_file[0] == '\0') {
    const int result = set_default_boot_file(ctx, program);
    if (result != 0) return result;
  }
  if (ctx.cmd_ic || ctx.cmd_ir) {
    if (ctx.image_size_opt < 0) ctx.image_size_opt = DEFAULT_IMAGE_SIZE;
    if (ctx.dir_items_opt < 0) ctx.dir_items_opt = DEFAULT_DIR_ITEMS;
  }
  if (ctx.cmd_fa && ctx.start_address < 0) ctx.start_address = 0;
  if (ctx.cmd_ml && ctx.monitor < 0) ctx.monitor = 0;
  if ((ctx.cmd_fa || ctx.cmd_ml) && ctx.long_name[0] == '\0') {
    ctx.long_name.fill(' ');
    ctx.long_name[LONG_NAME_LENGTH] = '\0';
  }
  return 0;
}

}  // namespace

int parse_options(int argc, char** argv, Context*& ctx_slot) {
  if (alloc_zeroed(ctx_slot) != 0) return ERR_OUT_OF_MEMORY;
  Context& ctx = *ctx_slot;
  ctx.image_name = argv[1];
  ctx.image_size_opt = -1;
  ctx.dir_items_opt = -1;
  ctx.start_address = -1;
  ctx.monitor = -1;
  ctx.image_length = -1;
  ctx.known_fill_from = -1;

  for (int i = 2; i < argc;) {
    const char* argument = argv[i];
    if (std::strcmp(argument, "-c") == 0) {
      // The next argument is always the mask, whatever it looks like.
      ctx.cmd_c = 1;
      const char* mask = i + 1 < argc ? argv[i + 1] : "*";
      const int result = set_main_name(ctx, mask, argument, 1);
      if (result != 0) return result;
      i += i + 1 < argc ? 2 : 1;
      continue;
    }
    const OptionRule* option = nullptr;
    for (const OptionRule& rule : OPTIONS) {
      if (std::strcmp(argument, rule.text) == 0) option = &rule;
    }
    if (option == nullptr) return report_error(ERR_UNKNOWN_OPTION, argument);
    if (argc - i - 1 < option->values) return report_error(ERR_MISSING_VALUE, option->text);
    const int result = option->apply(ctx, argv + i + 1, option->text);
    if (result != 0) return result;
    i += 1 + option->values;
  }

  // -fa stores the name derived from its path unless -fn gives another.
  if (ctx.cmd_fa && !slot_given(ctx.new_name) && !name_storable(ctx.name)) {
    return report_error(ERR_INVALID_NAME, derived_name_text(ctx.source_path.data()).c_str(), "-fa");
  }
  const int result = check_combination(ctx);
  if (result != 0) return result;
  return fill_defaults(ctx, argv[0]);
}
