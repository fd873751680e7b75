# The two commands that matter: `make demo` and `make test`.
# Everything else here is a step of one of them.

package-sets = native hosts windows win32 fuzz kdenlive obs package

.PHONY: all deps $(addprefix deps-,$(package-sets)) demo test check-format bench install package \
	test-package clean screenshot fuzz fuzz-seeds test-fuzz build-fuzz \
	$(foreach p,native sanitize win64 win32,build-$(p) test-$(p)) build-win64-renders

all: build-native

# The Debian packages, all of them or one set (scripts/install-deps says
# which set holds what). Each target below asks only for the sets it needs.
deps:
	@scripts/install-deps
$(addprefix deps-,$(package-sets)): deps-%:
	@scripts/install-deps $*

# The package sets each preset builds with, and the further sets its tests
# run with: the native build makes the OBS transition too (and tests it in
# headless libobs), the native tests drive the frei0r plug-in through melt
# and GStreamer, and have Kdenlive load its description.
deps-build-native = native obs
deps-build-sanitize = native
deps-build-win64 = windows
deps-build-win32 = windows
deps-test-native = hosts kdenlive
deps-test-sanitize =
deps-test-win64 =
deps-test-win32 = win32

# How a preset's tests run: the Windows ones on a private Xvfb display (the
# setup dialog opens real windows), in a wine prefix of their own; the 64-bit
# ones under wine64, the shipping 32-bit ones under the 32-bit wine
# (scripts/wine32-run; emulated through QEMU where the kernel cannot run
# 32-bit programs, which deps-win32 sets up).
run-native =
run-sanitize =
run-win64 = env GRANULIX_WINEPREFIX=$(CURDIR)/build/win64/wineprefix scripts/with-xvfb
run-win32 = env GRANULIX_WINEPREFIX=$(CURDIR)/build/win32/wineprefix \
	GRANULIX_WINE_RUN=$(CURDIR)/scripts/wine32-run scripts/with-xvfb

# Warnings stop the build where GRANULIX_WERROR is ON: by default when CI is
# set, and .ci/run says so outright. Every configure passes the choice on,
# so a build folder made before does not keep an older one.
GRANULIX_WERROR ?= $(if $(CI),ON,OFF)
configure = cmake --preset $(1) -DGRANULIX_WERROR=$(GRANULIX_WERROR) >/dev/null

# Runs a stage's command and says how long it took.
timed = scripts/timed $(1) $(2)

# configure, build and test one CMake preset
define preset
build-$(1): $(foreach d,$(deps-build-$(1)),deps-$(d))
	@$(call configure,$(1))
	@$(call timed,build-$(1),cmake --build --preset $(1))
test-$(1): build-$(1) $(foreach d,$(deps-test-$(1)),deps-$(d))
	@$(call timed,test-$(1),$(run-$(1)) ctest --preset $(1))
endef
$(eval $(call preset,native))
$(eval $(call preset,sanitize))
$(eval $(call preset,win64))
$(eval $(call preset,win32))

# The shipping module is compared with the 64-bit one: its tests need the
# 64-bit module and the program that renders through it.
test-win32: build-win64-renders
build-win64-renders: deps-windows
	@$(call configure,win64)
	@cmake --build --preset win64 --target module_renders

# The fuzz targets (clang, libFuzzer, ASan + UBSan). `make test` gives each
# a fixed number of inputs from a fixed seed (the preview hook's inputs
# render previews of the dialog's size, so it gets fewer); `make fuzz` lets
# each run for minutes and keeps what it learns in build/fuzz/corpus.
FUZZ_RUNS ?= 4000
FUZZ_TARGETS ?= render_entry settings_file settings_json preview_hook:800 engine command_line frei0r:1000
FUZZ_SECONDS ?= 180
build-fuzz: deps-fuzz
	@$(call configure,fuzz)
	@$(call timed,build-fuzz,cmake --build --preset fuzz)
test-fuzz: build-fuzz
	@$(call timed,test-fuzz,scripts/run-fuzzer --runs $(FUZZ_RUNS) $(FUZZ_TARGETS))
fuzz: build-fuzz
	@scripts/run-fuzzer --seconds $(FUZZ_SECONDS)
# Rewrites the committed seed corpora from fuzz/fuzz_seeds.cpp.
fuzz-seeds: build-fuzz
	@rm -rf fuzz/corpus
	@build/fuzz/bin/fuzz_seeds fuzz/corpus

# The built-in clips through the native module: a video and a contact sheet.
# Builds only the program and the module, so a clean clone gets there fast.
demo: deps-native
	@$(call configure,native)
	@cmake --build --preset native --target granulix granulix_module
	@mkdir -p out
	@build/native/bin/granulix render --frames 75 -o out/demo.mp4
	@build/native/bin/granulix sheet --frames 75 -o out/demo-sheet.png

# The package's test installs it into /usr, where melt and GStreamer would
# also find its plug-in: it runs alone, after every other suite.
test: check-format test-native test-sanitize test-win64 test-win32 test-fuzz
	@$(MAKE) --no-print-directory test-package

# The layout is .clang-format's: a file it would change fails the check.
check-format: deps-native
	@git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

# A picture of the setup dialog at one frame: make screenshot FRAME=40
screenshot:
	@scripts/screenshot-setup --frame $(or $(FRAME),30)

bench: build-native
	@build/native/bin/engine_bench --benchmark_repetitions=5 \
		--benchmark_report_aggregates_only=true
	@LIBGL_ALWAYS_SOFTWARE=1 scripts/with-xvfb build/native/bin/obs_bench \
		--benchmark_repetitions=3 --benchmark_report_aggregates_only=true

# Everything the package holds, under a prefix of one's choice: the program
# in $(PREFIX)/bin with its module in $(PREFIX)/lib/granulix, the frei0r
# plug-in in $(PREFIX)/lib/frei0r-1, Kdenlive's description of it in
# $(PREFIX)/share/kdenlive/transitions, the OBS transition in
# $(PREFIX)/lib/<multiarch>/obs-plugins and $(PREFIX)/share/obs/obs-plugins
# (where Debian's OBS finds it when PREFIX is /usr), the manual page, bash
# completion and documents (make install PREFIX=$HOME/.local).
PREFIX ?= /usr/local
install: build-native
	@cmake --install build/native --prefix $(PREFIX)

# The Debian package of everything the install rules hold, built by CPack from
# the native build: build/native/package/granulix_<version>_amd64.deb. Its
# test installs it (as root, or through sudo), uses it and removes it again.
package-deb = build/native/package/granulix_$(shell sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
	build/native/CMakeCache.txt)_amd64.deb
package: deps-package build-native
	@rm -f build/native/package/granulix_*.deb
	@cd build/native && cpack --config CPackConfig.cmake >/dev/null
	@echo "make package: $(package-deb)"
test-package: package deps-hosts
	@$(call timed,test-package,$(if $(filter 0,$(shell id -u)),,sudo) tests/package/test-package $(package-deb))

clean:
	rm -rf build out
