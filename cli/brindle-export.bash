# bash completion for brindle-export
_brindle_export() {
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    # With '=' in COMP_WORDBREAKS (the default), "--progress=l" arrives as three words.
    if [[ "$prev" == "=" && "${COMP_WORDS[COMP_CWORD-2]}" == --@(progress|index) ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    case "$prev" in
        -j|--jobs)
            return ;;
        --3dtiles)
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        --progress)
            COMPREPLY=($(compgen -W "auto bar lines none" -- "$cur"))
            return ;;
        --index)
            COMPREPLY=($(compgen -W "proxy paged overview" -- "$cur"))
            return ;;
    esac
    if [[ "$cur" == --progress=* ]]; then
        COMPREPLY=($(compgen -W "auto bar lines none" -- "${cur#--progress=}"))
        return
    fi
    if [[ "$cur" == --index=* ]]; then
        COMPREPLY=($(compgen -W "proxy paged overview" -- "${cur#--index=}"))
        return
    fi
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "-j --jobs --dry-run --verify --force --strict --no-cache --json -q --quiet
            --progress= --index= --3dtiles --3dtiles-quantize --version -h --help" -- "$cur"))
        [[ ${#COMPREPLY[@]} -eq 1 && "${COMPREPLY[0]}" == *= ]] && compopt -o nospace
        return
    fi
    COMPREPLY=($(compgen -d -- "$cur"))
}
complete -o filenames -F _brindle_export brindle-export
