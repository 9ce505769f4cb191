# Set-up, build, test and benchmark in one place. Every target installs the
# Debian packages it needs when they are missing.

BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
FUZZ_SECONDS ?= 60
# The Linux input methods: the libraries their formats are read with, and
# the tools and tables the round-trip tests run against. libimetable-dev
# does not pull in the headers its own headers include.
# What the installed-files and package tests check with.
PACKAGE_TEST_PACKAGES := desktop-file-utils appstream man-db lintian bash-completion zsh \
              dpkg-dev file
LINUX_IME_PACKAGES := libimetable-dev libimecore-dev libfcitx5utils-dev libboost-dev \
              libyaml-cpp-dev libsqlite3-dev libime-bin librime-bin librime-dev ibus-table \
              ibus-table-quick5 rime-data-stroke rime-data-wubi fcitx5-table-cns11643 \
              libime-data
# The typing analysis: its built-in weight lists (essay, jieba, Unihan's
# kHanyuPinlu), OpenCC to simplify essay and libbz2 to unpack Unihan; the real
# tables it is tested on.
ANALYSIS_PACKAGES := rime-essay python3-jieba unicode-data libopencc-dev libopencc-data \
              libbz2-dev rime-data-cangjie5
# The build (gettext: the message catalogues); the editor window (Qt 6 with its
# Chinese translations, Qt SVG for the analysis' heat map, a CJK font and ones
# that cover the ideographs beyond the BMP); its end-to-end test
# (Xvfb, driven with xdotool); what the analysis' pictures are checked with (the
# heat map drawn by rsvg-convert, the report page loaded by a headless browser).
PACKAGES   := cmake ninja-build g++ gettext libgtest-dev libcli11-dev qt6-base-dev qt6-svg-dev libgl-dev \
              qt6-translations-l10n fonts-wqy-microhei fonts-hanazono fonts-babelstone-han \
              xvfb xauth x11-utils xdotool librsvg2-bin chromium \
              $(LINUX_IME_PACKAGES) $(ANALYSIS_PACKAGES) $(PACKAGE_TEST_PACKAGES)
# The reference tool compile_bench measures against; only make bench needs it.
BENCH_PACKAGES := libime-bin mawk
CMAKE_ARGS := -G Ninja -DCMAKE_BUILD_TYPE=Release
DEMO       := $(BUILD)/demo

.PHONY: all deps bench-deps configure build test run demo bench bench-scale sanitize fuzz clean \
        install package

all: build

# Installs those of the Debian packages $(1) that are missing.
define install-missing
	@missing=""; \
	for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  $$sudo apt-get update -q && \
	  $$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $$missing; \
	fi
endef

deps:
	$(call install-missing,$(PACKAGES))

# After deps, so that two installs never compete for the package database.
bench-deps: deps
	$(call install-missing,$(BENCH_PACKAGES))

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD)

# Installs into PREFIX (default /usr/local); DESTDIR is honoured.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, in $(BUILD).
package: build
	cd $(BUILD) && cpack -G DEB

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

# Opens the editor on the bundled sample table; without a display, shows what
# the command-line tools do with it instead.
run: build
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
	  exec $(BUILD)/src/mirel-editor $(BUILD)/src/sample.txt; \
	fi; \
	echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): the editor window needs one."; \
	echo "Here is what the command-line tools do with the sample table instead."; echo; \
	$(MAKE) --no-print-directory demo

demo: build
	$(BUILD)/src/mirel-tool --help
	@rm -rf $(DEMO) && mkdir -p $(DEMO) && cp data/sample/sample.txt $(DEMO)/
	@echo; echo "== de-duplicate $(DEMO)/sample.txt"
	$(BUILD)/src/mirel-tool dedup $(DEMO)/sample.txt
	@echo; echo "== sort by code, shorter codes first"
	$(BUILD)/src/mirel-tool sort $(DEMO)/sample.txt --by code2
	@echo; echo "== extract single characters through the batch grammar"
	$(BUILD)/src/mirel-tool batch /do=提取单字编码 "/源码表文件=$(abspath $(DEMO))/sample.txt"
	@echo; echo "Results (UTF-16LE) are in $(DEMO):"; ls -l $(DEMO)

bench: build bench-deps
	$(BUILD)/bench/table_bench
	$(BUILD)/bench/compile_bench
	$(BUILD)/bench/editor_bench
	$(BUILD)/bench/convert_bench
	$(BUILD)/bench/generate_bench
	$(BUILD)/bench/scale_bench --rows 1000000
	$(BUILD)/bench/linux_formats_bench

# Both table shapes at 1, 5 and 10 million rows (each size fewer runs than the
# last, to keep the whole under an hour), then one 100 MiB line through every
# tool that reads whole lines.
SCALE_ROWS ?= 1000000,5000000,10000000
bench-scale: build bench-deps
	$(BUILD)/bench/scale_bench --rows $(SCALE_ROWS)
	$(BUILD)/bench/scale_bench --long-line 100 --runs 1

sanitize: deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMIREL_SANITIZE=ON -DMIREL_WERROR=ON \
	  -DMIREL_BUILD_BENCH=OFF
	cmake --build $(BUILD_ASAN)
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(abspath tests/lsan.supp) \
	  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j2

# Each fuzz target runs for FUZZ_SECONDS, starting from the corpus in fuzz/corpus
# (copied, so the repository is not changed).
fuzz: deps
	CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIREL_FUZZ=ON \
	  -DMIREL_BUILD_TESTS=OFF -DMIREL_BUILD_BENCH=OFF -DMIREL_BUILD_GUI=OFF
	cmake --build $(BUILD_FUZZ) --target compiled_table_fuzz table_text_fuzz user_library_fuzz \
	  rule_conversion_fuzz common_formats_fuzz linux_formats_fuzz fcitx_dict_fuzz
	@for t in compiled_table table_text user_library rule_conversion common_formats linux_formats \
	    fcitx_dict; do \
	  rm -rf $(BUILD_FUZZ)/corpus-$$t && mkdir -p $(BUILD_FUZZ)/corpus-$$t && \
	  cp fuzz/corpus/$$t/* $(BUILD_FUZZ)/corpus-$$t/ && \
	  echo "== $${t}_fuzz for $(FUZZ_SECONDS) s" && \
	  $(BUILD_FUZZ)/fuzz/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=65536 \
	    -artifact_prefix=$(BUILD_FUZZ)/$$t- $(BUILD_FUZZ)/corpus-$$t || exit 1; \
	done

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ)
