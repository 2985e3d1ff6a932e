# The project's commands. Each installs missing Debian packages, configures
# and builds what it needs.
.PHONY: demo test bench clean

# make demo [FILE=recording.mpg] [QUIET=1]
demo:
	@bash scripts/demo.sh $(if $(filter 1,$(QUIET)),--quiet)

test:
	@bash scripts/test.sh

bench:
	@bash scripts/bench.sh

clean:
	rm -rf build
