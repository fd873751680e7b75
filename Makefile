# The two commands that matter: `make demo` and `make test`.
# Everything else here is a step of one of them.

.PHONY: all deps test bench clean build-native test-native build-sanitize test-sanitize

all: build-native

deps:
	@scripts/install-deps

# configure, build and test one CMake preset
define preset
build-$(1): deps
	@cmake --preset $(1) >/dev/null
	@cmake --build --preset $(1)
test-$(1): build-$(1)
	@ctest --preset $(1)
endef
$(eval $(call preset,native))
$(eval $(call preset,sanitize))

test: test-native test-sanitize

bench: build-native
	@build/native/bench/engine_bench --benchmark_repetitions=5 \
		--benchmark_report_aggregates_only=true

clean:
	rm -rf build out
